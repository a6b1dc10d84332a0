// Source text scanning: the delimiter map, the prefix tests, the two scanners, the
// argument-list splitter with the call emitter, and the member-path emitter. Scanners take
// their text as a view and advance it; they never move the text that remains.
#include "rawapi.h"

#include <array>
#include <memory>

#include "compiler.h"
#include "context.h"
#include "packer.h"

const delimmap GIM = {{"(", ")"}, {"[", "]"}, {"{", "}"}, {"\"", "\""}};

bool isallalpha(std::string_view str) {
    for (char c : str) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

bool checkstrings(std::string_view x, std::string_view y) {
    // Most entries are one or two characters: the first comparison settles most tests.
    if (x.size() < y.size()) return false;
    if (y.empty()) return true;
    return x[0] == y[0] && x.substr(1, y.size() - 1) == y.substr(1);
}

bool checkstrings(std::string_view x, const stringlist& y) {
    for (const std::string& entry : y) {
        if (checkstrings(x, entry)) return true;
    }
    return false;
}

namespace {

// The delimiter map as the scanner uses it: for every byte, the nesting counter it opens
// and the one it closes (-1 for none). Only one-character delimiters can ever match, since
// the scanner compares one character at a time.
struct delimtable {
    std::array<std::int8_t, 256> opens;
    std::array<std::int8_t, 256> closes;
    std::array<bool, 256> special{}; // a delimiter or the backslash
    int count = 0;

    explicit delimtable(const delimmap& ignorance) {
        opens.fill(-1);
        closes.fill(-1);
        special[static_cast<unsigned char>('\\')] = true;
        for (const auto& [opener, closer] : ignorance) {
            if (opener.size() != 1) continue;
            const int index = count++;
            opens[static_cast<unsigned char>(opener[0])] = static_cast<std::int8_t>(index);
            special[static_cast<unsigned char>(opener[0])] = true;
            if (closer.size() == 1) {
                closes[static_cast<unsigned char>(closer[0])] = static_cast<std::int8_t>(index);
                special[static_cast<unsigned char>(closer[0])] = true;
            }
        }
    }
};

// The table of `GIM`, built once: nearly every scan uses it.
const delimtable& gimtable() {
    static const delimtable table(GIM);
    return table;
}

// Which bytes can begin an entry of a list; an empty entry fits everywhere.
struct firstbytes {
    std::uint64_t can[4] = {0, 0, 0, 0};
    bool any = false;

    explicit firstbytes(const stringlist& entries) {
        // Built in registers: a scan starts with this for every operand.
        std::uint64_t w0 = 0, w1 = 0, w2 = 0, w3 = 0;
        for (const std::string& entry : entries) {
            if (entry.empty()) {
                w0 = w1 = w2 = w3 = ~std::uint64_t{0};
                continue;
            }
            const auto c = static_cast<unsigned char>(entry[0]);
            const std::uint64_t bit = std::uint64_t{1} << (c & 63);
            switch (c >> 6) {
            case 0:
                w0 |= bit;
                break;
            case 1:
                w1 |= bit;
                break;
            case 2:
                w2 |= bit;
                break;
            default:
                w3 |= bit;
                break;
            }
        }
        can[0] = w0;
        can[1] = w1;
        can[2] = w2;
        can[3] = w3;
        any = !entries.empty();
    }
    bool test(char c) const {
        const auto u = static_cast<unsigned char>(c);
        return (can[u >> 6] >> (u & 63)) & 1;
    }
};

// The character that a backslash escape stands for.
char escaped(char c) {
    if (c == 'n') return '\n';
    if (c == 'r') return '\r';
    return c;
}

// Takes a backslash and the character after it off `target` and appends the escaped
// character to `out`. A trailing backslash is dropped. Returns false when the text ended.
bool takeescape(std::string_view& target, std::string& out) {
    target.remove_prefix(1);
    if (target.empty()) return false;
    out.push_back(escaped(target[0]));
    target.remove_prefix(1);
    return true;
}

// Puts back in front of `target` the blank that was just consumed from the same buffer:
// the last character of the result was a blank, taken directly or as an escaped blank, so
// the byte right before `target` is that blank.
void giveblankback(std::string_view& target) {
    target = std::string_view(target.data() - 1, target.size() + 1);
}

// The result of a scan: the consumed text from `start` up to `target` as it stands, or,
// once an escape was resolved, the copy built in `out`, kept with the text it came from.
struct scanresult {
    const char* start;
    bool escaped = false;
    std::string out;

    // Switches to copying: everything consumed so far, up to `at`, is copied once.
    void beginescapes(const char* at) {
        if (escaped) return;
        escaped = true;
        out.assign(start, static_cast<std::size_t>(at - start));
    }
    std::string_view finish(std::string_view target) {
        const std::string_view consumed(start, static_cast<std::size_t>(target.data() - start));
        if (!escaped) return consumed;
        return current().arena.keep(out, consumed);
    }
};

} // namespace

std::string_view seekstring(std::string_view& target, const stringlist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking) {
    std::unique_ptr<delimtable> own;
    if (&ignorance != &GIM) own = std::make_unique<delimtable>(ignorance);
    const delimtable& delims = own ? *own : gimtable();
    const firstbytes first(blacklist);
    // One nesting counter per delimiter pair.
    std::int64_t fewcounters[8] = {};
    std::vector<std::int64_t> manycounters;
    std::int64_t* areinside = fewcounters;
    if (delims.count > 8) {
        manycounters.assign(static_cast<std::size_t>(delims.count), 0);
        areinside = manycounters.data();
    }
    int openkinds = 0; // counters above 0
    scanresult result{target.data(), false, {}};
    // Once escapes are resolved, characters consumed but not yet copied to the result wait
    // in a run, copied before anything reads or changes it.
    const char* run = target.data();
    const auto flush = [&] {
        if (result.escaped) result.out.append(run, static_cast<std::size_t>(target.data() - run));
        run = target.data();
    };
    // The last character of the result so far.
    const auto endsinblank = [&] {
        flush();
        if (result.escaped) return !result.out.empty() && result.out.back() == ' ';
        return target.data() > result.start && target.data()[-1] == ' ';
    };

    while (!target.empty()) {
        // Characters that are no delimiter, no backslash and (at top level) no entry's
        // first character only join the run.
        if (blacklistmode == 0 || openkinds > 0) {
            std::size_t plain = 0;
            const bool top = openkinds == 0 && first.any;
            while (plain < target.size()) {
                const char p = target[plain];
                if (delims.special[static_cast<unsigned char>(p)] || (top && first.test(p))) break;
                ++plain;
            }
            target.remove_prefix(plain);
            if (target.empty()) break;
        }
        const char c = target[0];
        if (c == '\\') {
            flush();
            result.beginescapes(target.data());
            const bool more = takeescape(target, result.out);
            run = target.data();
            if (!more) return result.finish(target);
            continue;
        }
        if (openkinds == 0 && first.any && first.test(c)) {
            if (blacklistmode == 0) {
                for (const std::string& entry : blacklist) {
                    if (!checkstrings(target, entry)) continue;
                    if (!doalphachecking) {
                        flush();
                        return result.finish(target);
                    }
                    const bool blankbefore = endsinblank();
                    const bool blankafter =
                        target.size() > entry.size() && target[entry.size()] == ' ';
                    if (isallalpha(entry)) {
                        if (!(blankbefore && blankafter)) continue;
                        if (result.escaped) result.out.pop_back();
                        giveblankback(target);
                        return result.finish(target);
                    }
                    if (blankbefore && blankafter) {
                        if (result.escaped) result.out.pop_back();
                        giveblankback(target);
                    }
                    return result.finish(target);
                }
            } else {
                bool caught = false;
                for (const std::string& entry : blacklist) {
                    if (!checkstrings(target, entry)) continue;
                    target.remove_prefix(entry.size());
                    caught = true;
                    break;
                }
                if (caught) continue;
                flush();
                return result.finish(target);
            }
        } else if (openkinds == 0 && blacklistmode != 0) {
            flush();
            return result.finish(target);
        }
        // Counting: an opener that is also its own closer (the double quote) toggles.
        const int opens = delims.opens[static_cast<unsigned char>(c)];
        const int closes = delims.closes[static_cast<unsigned char>(c)];
        bool counted = false;
        if (opens >= 0 && (opens != closes || areinside[opens] <= 0)) {
            if (areinside[opens]++ == 0) ++openkinds;
            counted = true;
        }
        if (!counted && closes >= 0 && areinside[closes] > 0) {
            if (--areinside[closes] == 0) --openkinds;
        }
        target.remove_prefix(1);
    }
    flush();
    return result.finish(target);
}

std::string_view reversedseekstring(std::string_view& target, const stringlist& blacklist,
                                    const delimmap&) {
    // Entries that follow one another directly are a view of the text; blanks between them
    // or escapes make a copy.
    std::string out;
    const char* first = nullptr;
    const char* last = nullptr;
    bool contiguous = true;
    const auto finish = [&]() -> std::string_view {
        if (first == nullptr) return std::string_view(target.data(), 0);
        const std::string_view taken(first, static_cast<std::size_t>(last - first));
        if (contiguous) return taken;
        return current().arena.keep(out, taken);
    };
    while (!target.empty()) {
        if (target[0] == '\\') {
            contiguous = false;
            if (first == nullptr) first = target.data();
            const bool more = takeescape(target, out);
            last = target.data();
            if (!more) return finish();
            continue;
        }
        while (!target.empty() && target[0] == ' ') target.remove_prefix(1);
        const std::string* caught = nullptr;
        for (const std::string& entry : blacklist) {
            if (checkstrings(target, entry)) {
                caught = &entry;
                break;
            }
        }
        if (caught == nullptr) return finish();
        if (first == nullptr) {
            first = target.data();
        } else if (last != target.data()) {
            contiguous = false;
        }
        out.append(*caught);
        target.remove_prefix(caught->size());
        last = target.data();
    }
    return finish();
}

viewlist getargs(std::string_view& target, const std::string& seperator, const stringlist& ends) {
    std::string withblank = seperator;
    withblank.push_back(' ');
    stringlist blacklist = {seperator, withblank};
    blacklist.insert(blacklist.end(), ends.begin(), ends.end());
    viewlist out;
    const char* separator = nullptr; // the separator before this element
    for (;;) {
        const std::string_view temp = seekstring(target, blacklist, GIM, 0, false);
        if (!temp.empty()) {
            out.push_back(temp);
        } else if (current().warning(warningkind::emptyelement)) {
            // Nothing before a separator, or after the last one: the element is dropped.
            const bool before = !target.empty() && target[0] == ',';
            if (before || separator != nullptr) {
                current().addwarning(warningkind::emptyelement,
                                     "empty element dropped; remove the extra ','",
                                     std::string_view(before ? target.data() : separator, 1));
            }
        }
        if (checkstrings(target, ends)) return out;
        if (!target.empty() && target[0] == ',') {
            separator = target.data();
            target.remove_prefix(1);
            if (!target.empty() && target[0] == ' ') target.remove_prefix(1);
            continue;
        }
        if (!ends.empty()) {
            error("getargs: no endings, no comma, ends not empty; seekstring failure or "
                  "malformed args.");
        }
        return out;
    }
}

void callfunc(const viewlist& arguments) {
    addcode(ARGS);
    for (const std::string_view argument : arguments) handleexpr(argument);
    addcode(ENDARGS);
    addcode(CALL);
    addcode(TYPE_INT);
    compileint(static_cast<std::int32_t>(arguments.size()));
}

std::string_view gointo(std::string_view target, std::int32_t& wentin, const stringlist& enders) {
    addcode(ENTER);
    ++wentin;
    if (!checkstrings(target, ".")) {
        std::string dotted;
        dotted.reserve(target.size() + 1);
        dotted.push_back('.');
        dotted.append(target);
        target = current().arena.keep(dotted, target);
    }
    stringlist stops = enders;
    stops.push_back(".");
    std::string_view temp;
    while (checkstrings(target, ".")) {
        target.remove_prefix(1);
        temp = seekstring(target, stops, GIM, 0, false);
        if (!checkstrings(target, ".")) break;
        addcode(DESCEND);
        addcode(TYPE_STRING);
        compilestring(temp);
        ++wentin;
    }
    return temp;
}
