// The library's scanners against the reference scanners (referencescanners.h) on one text:
// from a set of places in the text, every scan the compiler makes (the operand scan with
// and without word checking, the head, index, parenthesis and dictionary scans, the
// argument split, the operator run) is run by both, and they must cut at the same place,
// leave the same text, return the same text (a view of the same bytes when the reference
// returns a view) and fail with the same message; and the nesting check and the statement
// splitter over the whole text. Shared by the unit test and the parse
// fuzzer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "parser.h"
#include "rawapi.h"
#include "referencescanners.h"

namespace scannercheck {

// The stop lists of the compiler's scans (compiler.cpp), one of each.
struct stoplists {
    stringlist keepon = {".", "[", "("}, openparen = {"("}, closeparen = {")"},
               closebracket = {"]"}, dictkey = {": ", ":"}, dictvalue = {", ", ",", "}"},
               dot = {"."};
    std::vector<const stringlist*> all() const {
        return {&operators,    &keepon,  &openparen, &closeparen,
                &closebracket, &dictkey, &dictvalue, &dot};
    }
};

// How one scan came out.
struct outcome {
    std::string result;
    bool view = false; // the result is a view of the text scanned, not a copy
    const char* rest = nullptr;
    std::size_t restsize = 0;
    std::string failure; // the message of a fatal error, if one ended it
    std::vector<std::string> elements;

    bool operator==(const outcome&) const = default;
};

template <class Scan> outcome run(std::string_view text, Scan scan) {
    outcome out;
    std::string_view target = text;
    try {
        const std::string_view result = scan(target, out);
        out.result = std::string(result);
        out.view = result.empty() || (result.data() >= text.data() &&
                                      result.data() + result.size() <= text.data() + text.size());
    } catch (const fatalerror& e) { out.failure = e.message; }
    out.rest = target.data();
    out.restsize = target.size();
    return out;
}

inline std::string describe(std::string_view what, std::string_view text, std::size_t at) {
    std::string out(what);
    out += " differs at offset ";
    out += std::to_string(at);
    out += " of a text of ";
    out += std::to_string(text.size());
    out += " bytes: \"";
    out += text.substr(at, 80);
    out += "\"";
    return out;
}

// Compares the scans starting at each of `starts` (offsets in `text`), over the next
// `longlength` bytes (the rest of the text at most) and over the next `shortlength`. `text` must be
// a source text of the current compilation (or not, to compare scans of text the index does not
// know). Returns what differs first, or nothing.
inline std::optional<std::string> compare(std::string_view text,
                                          const std::vector<std::size_t>& starts,
                                          std::size_t longlength = std::string_view::npos,
                                          std::size_t shortlength = 40) {
    static const stoplists lists;
    compilation& c = current();
    for (const std::size_t start : starts) {
        if (start > text.size()) continue;
        const std::string_view pieces[] = {text.substr(start, longlength),
                                           text.substr(start, shortlength)};
        for (const std::string_view piece : pieces) {
            const textarena::mark mark = c.arena.where();
            for (const stringlist* list : lists.all()) {
                for (const bool words : {false, true}) {
                    const outcome ours = run(piece, [&](std::string_view& t, outcome&) {
                        return seekstring(t, *list, GIM, 0, words);
                    });
                    const outcome theirs = run(piece, [&](std::string_view& t, outcome&) {
                        return reference::seekstring(t, *list, GIM, 0, words);
                    });
                    if (!(ours == theirs)) return describe("seekstring", text, start);
                }
            }
            const outcome ours = run(piece, [&](std::string_view& t, outcome&) {
                return reversedseekstring(t, operators, GIM);
            });
            const outcome theirs = run(piece, [&](std::string_view& t, outcome&) {
                return reference::reversedseekstring(t, operators, GIM);
            });
            if (!(ours == theirs)) return describe("reversedseekstring", text, start);
            for (const stringlist* ends : {&lists.closeparen, &lists.closebracket}) {
                const auto split = [&](auto getargsof) {
                    return [=](std::string_view& t, outcome& o) {
                        for (const std::string_view element : getargsof(t, ",", *ends))
                            o.elements.emplace_back(element);
                        return std::string_view();
                    };
                };
                const outcome a =
                    run(piece, split([](std::string_view& t, const std::string& s,
                                        const stringlist& e) { return getargs(t, s, e); }));
                const outcome b = run(
                    piece, split([](std::string_view& t, const std::string& s,
                                    const stringlist& e) { return reference::getargs(t, s, e); }));
                if (!(a == b)) return describe("getargs", text, start);
            }
            c.arena.release(mark);
        }
    }
    return std::nullopt;
}

// The nesting check against the reference on `text` and on its tails from each of
// `starts`, with limits around the depth found (so that the opener past the limit is
// found at N and not at N + 1). Returns what differs first, or nothing.
inline std::optional<std::string> comparenesting(std::string_view text,
                                                 const std::vector<std::size_t>& starts) {
    constexpr std::int64_t unlimited = std::numeric_limits<std::int64_t>::max();
    std::vector<std::size_t> from{0};
    from.insert(from.end(), starts.begin(), starts.end());
    for (const std::size_t start : from) {
        if (start > text.size()) continue;
        const std::string_view tail = text.substr(start);
        const std::int64_t deepest = reference::bracketnesting(tail, unlimited).deepest;
        for (const std::int64_t limit :
             {std::int64_t{0}, std::int64_t{1}, deepest - 1, deepest, deepest + 1, unlimited}) {
            const nesting ours = bracketnesting(tail, limit);
            const nesting theirs = reference::bracketnesting(tail, limit);
            if (ours.deepest != theirs.deepest || ours.past != theirs.past) {
                std::string what = "bracketnesting (limit ";
                what += std::to_string(limit);
                what += ")";
                return describe(what, text, start);
            }
        }
    }
    return std::nullopt;
}

// The statement splitter against the reference on `text`, a source text of the current
// compilation, and then, as the compiler does, on the inside of every code block of its
// words (which the splitter may skip through the blocks it remembered on the way), at most
// `texts` texts. Returns what differs first, or nothing.
inline std::optional<std::string> comparesplit(std::string_view text, int texts = 200) {
    compilation& c = current();
    std::vector<std::string_view> pending{text};
    while (!pending.empty() && texts-- > 0) {
        const std::string_view piece = pending.back();
        pending.pop_back();
        const reference::splitoutcome theirs = reference::parsewords(piece);
        splitwords ours;
        const std::size_t recorded = c.events.size();
        int status = 0;
        std::size_t at = 0;
        try {
            parsewords(c, piece, 0, ours);
        } catch (const parserexit& e) {
            status = e.status;
            at = e.where.begin - static_cast<std::size_t>(piece.data() - text.data());
        }
        std::vector<std::size_t> strays;
        for (std::size_t i = recorded; i < c.events.size(); ++i) {
            if (c.events[i].status == 0) {
                strays.push_back(c.events[i].where.begin -
                                 static_cast<std::size_t>(piece.data() - text.data()));
            }
        }
        c.events.resize(recorded);
        const std::size_t offset = static_cast<std::size_t>(piece.data() - text.data());
        if (status != theirs.status || ((status == 52 || status == 54) && at != theirs.at) ||
            strays != theirs.strays) {
            return describe("parsewords (status, place or stray brackets)", text, offset);
        }
        if (status != 0) continue;
        const auto sameword = [](std::string_view a, std::string_view b) {
            return a.size() == b.size() && (a.empty() || a.data() == b.data());
        };
        if (ours.ends != theirs.split.ends || ours.words.size() != theirs.split.words.size() ||
            !std::equal(ours.words.begin(), ours.words.end(), theirs.split.words.begin(),
                        sameword)) {
            return describe("parsewords (words)", text, offset);
        }
        for (const std::string_view word : ours.words) {
            if (word.size() >= 2 && word.front() == '{' && word.back() == '}')
                pending.push_back(word.substr(1, word.size() - 2));
        }
    }
    return std::nullopt;
}

// The places where the compiler's scans begin in practice, and a few more: every byte
// after a blank, a bracket, a quote, a comma, an operator or a point, and the first.
inline std::vector<std::size_t> scanstarts(std::string_view text, std::size_t most) {
    std::vector<std::size_t> out{0};
    for (std::size_t at = 1; at < text.size() && out.size() < most; ++at) {
        const char before = text[at - 1];
        if (std::string_view(" ([{\",.+-*/=<>!:\\\n").find(before) != std::string_view::npos)
            out.push_back(at);
    }
    return out;
}

} // namespace scannercheck
