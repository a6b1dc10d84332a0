// The scanners as they were before the source index: the forward scanner, the
// operator-run scanner, the argument splitter, the nesting check and the statement splitter
// reading every byte, kept here
// only as the reference the scanners of the library are compared with (scanindex_test.cpp and the
// parse fuzzer). Their behaviour is the one to keep; do not change them.
#include "referencescanners.h"

#include <algorithm>
#include <array>
#include <memory>

#include "compiler.h"
#include "context.h"
#include "packer.h"

namespace reference {

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

// Records where bracket groups end while a scan runs over a group that opened at top level
// (the root). The root is remembered when its run met no backslash: a scan that meets its
// opening character at top level again takes the same steps to its end. A bracket nested in
// it is remembered when nothing but brackets of its own kind stood between it and its
// closing bracket, so that a run starting there alone would end at that closing bracket too.
// Only long groups are remembered, and only in the source texts, whose addresses stay.
class grouprecorder {
  public:
    void start(const char* at) {
        root = at;
        nested.clear();
        cleanfrom = 0;
        rootok = nestedok = true;
    }
    bool active() const { return rootok; }
    void escape() { rootok = false; }
    void quote() { cleanfrom = nested.size(); }
    void opened(const char* at, int kind) {
        if (!nestedok) return;
        if (!nested.empty() && nested.back().second != kind) cleanfrom = nested.size();
        nested.push_back({at, kind});
    }
    void closed(const char* after, int kind) {
        if (!nestedok || nested.empty()) return;
        if (nested.back().second != kind) {
            nestedok = false;
            return;
        }
        const char* begin = nested.back().first;
        nested.pop_back();
        const bool clean = nested.size() >= cleanfrom;
        cleanfrom = std::min(cleanfrom, nested.size());
        if (clean) remember(begin, after);
    }
    void finished(const char* after) {
        if (rootok) remember(root, after);
        rootok = false;
    }

  private:
    void remember(const char* begin, const char* after) {
        const auto length = static_cast<std::size_t>(after - begin);
        if (length < compilation::rememberfrom) return;
        compilation& c = current();
        if (insource == 0) insource = c.insource({root, 1}) ? 1 : -1;
        if (insource > 0) c.groupends.remember(begin, static_cast<std::uint32_t>(length));
    }
    const char* root = nullptr;
    std::vector<std::pair<const char*, int>> nested;
    std::size_t cleanfrom = 0;
    bool rootok = false, nestedok = false;
    int insource = 0;
};

} // namespace

namespace {

// The stop list made ready for `list`, kept for the lists a thread scans with over and over:
// found by address and checked by content, since a list may change or give its address to
// another.
const stoplist& readystops(const stringlist& list) {
    struct made {
        stringlist copy;
        stoplist stops;
        explicit made(const stringlist& l) : copy(l), stops(copy) {}
    };
    thread_local std::vector<std::pair<const stringlist*, std::unique_ptr<made>>> cache;
    for (auto& [address, m] : cache) {
        if (address == &list && m->copy == list) return m->stops;
    }
    if (cache.size() >= 8) cache.erase(cache.begin());
    cache.emplace_back(&list, std::make_unique<made>(list));
    return cache.back().second->stops;
}

} // namespace

std::string_view seekstring(std::string_view& target, const stringlist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking) {
    return reference::seekstring(target, readystops(blacklist), ignorance, blacklistmode,
                                 doalphachecking);
}

std::string_view seekstring(std::string_view& target, const stoplist& stops,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking) {
    // Most scans meet no delimiter, backslash or first byte of an entry: their whole text is
    // the result. The characters before the first such byte only join the result, so the
    // scan below starts behind them.
    const char* const begin = target.data();
    if (&ignorance == &GIM && blacklistmode == 0) {
        const std::size_t size = target.size();
        std::size_t plain = 0;
        while (plain < size && stops.classes[static_cast<unsigned char>(begin[plain])] == 0) {
            ++plain;
        }
        if (plain == size) {
            target.remove_prefix(size);
            return {begin, size};
        }
        target.remove_prefix(plain);
    }
    std::unique_ptr<delimtable> own;
    if (&ignorance != &GIM) own = std::make_unique<delimtable>(ignorance);
    const delimtable& delims = own ? *own : gimtable();
    const stringlist& blacklist = *stops.entries;
    // One nesting counter per delimiter pair.
    std::int64_t fewcounters[8] = {};
    std::vector<std::int64_t> manycounters;
    std::int64_t* areinside = fewcounters;
    if (delims.count > 8) {
        manycounters.assign(static_cast<std::size_t>(delims.count), 0);
        areinside = manycounters.data();
    }
    int openkinds = 0; // counters above 0
    scanresult result{begin, false, {}};
    // Groups are remembered for scans with the delimiter map the compiler uses throughout.
    const bool remembering = own == nullptr && blacklistmode == 0;
    const endmemo& groupends = current().groupends;
    grouprecorder recorder;
    // Once escapes are resolved, characters consumed but not yet copied to the result wait
    // in a run, copied before anything reads or changes it.
    const char* run = begin;
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
            const bool top = openkinds == 0 && stops.any;
            // With word checking, a word entry stops the scan only after a blank: other
            // letters only join the run. (Once escapes are resolved, the result's last
            // character is still a blank exactly when the text's last one was, but the
            // general path decides then.)
            const bool wordcheck = doalphachecking && !result.escaped;
            const std::uint8_t* classes = own == nullptr ? stops.classes : nullptr;
            const std::size_t size = target.size();
            const char* text = target.data();
            if (classes != nullptr && !top) {
                while (plain < size && !(classes[static_cast<unsigned char>(text[plain])] & 1)) {
                    ++plain;
                }
            } else if (classes != nullptr) {
                for (; plain < size; ++plain) {
                    const std::uint8_t k = classes[static_cast<unsigned char>(text[plain])];
                    if (k == 0) continue;
                    if ((k & 1) || !wordcheck || !(k & 4)) break;
                    const bool blankbefore =
                        plain > 0 ? text[plain - 1] == ' ' : text > result.start && text[-1] == ' ';
                    if (blankbefore) break;
                }
            }
            while (classes == nullptr && plain < target.size()) {
                const char p = target[plain];
                if (delims.special[static_cast<unsigned char>(p)]) break;
                if (top && stops.test(p)) {
                    if (!wordcheck || !stops.onlywords(p)) break;
                    const bool blankbefore =
                        plain > 0 ? target[plain - 1] == ' '
                                  : target.data() > result.start && target.data()[-1] == ' ';
                    if (blankbefore) break;
                }
                ++plain;
            }
            target.remove_prefix(plain);
            if (target.empty()) break;
        }
        const char c = target[0];
        if (c == '\\') {
            recorder.escape();
            flush();
            result.beginescapes(target.data());
            const bool more = takeescape(target, result.out);
            run = target.data();
            if (!more) return result.finish(target);
            continue;
        }
        if (openkinds == 0 && stops.any && stops.test(c)) {
            if (blacklistmode == 0) {
                for (const std::uint16_t index : stops.candidates(c)) {
                    const std::string& entry = blacklist[index];
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
        if (openkinds == 0 && opens >= 0 && remembering) {
            // A group scanned before is skipped whole.
            const std::uint32_t known = groupends.find(target.data());
            if (known > 0 && known <= target.size()) {
                target.remove_prefix(known);
                continue;
            }
            recorder.start(target.data());
        } else if (recorder.active()) {
            if (opens >= 0 && opens == closes) {
                recorder.quote();
            } else if (opens >= 0) {
                recorder.opened(target.data(), opens);
            } else if (closes >= 0 && areinside[closes] > 0) {
                recorder.closed(target.data() + 1, closes);
            }
        }
        bool counted = false;
        if (opens >= 0 && (opens != closes || areinside[opens] <= 0)) {
            if (areinside[opens]++ == 0) ++openkinds;
            counted = true;
        }
        if (!counted && closes >= 0 && areinside[closes] > 0) {
            if (--areinside[closes] == 0 && --openkinds == 0 && recorder.active()) {
                recorder.finished(target.data() + 1);
            }
        }
        target.remove_prefix(1);
    }
    flush();
    return result.finish(target);
}

std::string_view reversedseekstring(std::string_view& target, const stringlist& blacklist,
                                    const delimmap& ignorance) {
    return reference::reversedseekstring(target, readystops(blacklist), ignorance);
}

std::string_view reversedseekstring(std::string_view& target, const stoplist& stops,
                                    const delimmap&) {
    const stringlist& blacklist = *stops.entries;
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
        if (!target.empty() || stops.hasempty) {
            for (const std::uint16_t index : stops.candidates(target.empty() ? '\0' : target[0])) {
                if (checkstrings(target, blacklist[index])) {
                    caught = &blacklist[index];
                    break;
                }
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

namespace {

// The stop list of `getargs` for a separator and its ends: the separator, the separator and
// a blank, and the ends. The compiler asks for the same two or three over and over, so each
// is made once per thread.
const stoplist& argumentstops(const std::string& separator, const stringlist& ends) {
    struct made {
        std::string separator;
        stringlist ends;
        stringlist entries;
        stoplist stops;
        made(const std::string& s, const stringlist& e)
            : separator(s), ends(e), entries{s, s + " "}, stops(entries) {
            entries.insert(entries.end(), e.begin(), e.end());
            stops = stoplist(entries);
        }
    };
    thread_local std::vector<std::unique_ptr<made>> cache;
    for (const auto& m : cache) {
        if (m->separator == separator && m->ends == ends) return m->stops;
    }
    if (cache.size() >= 16) cache.erase(cache.begin());
    cache.push_back(std::make_unique<made>(separator, ends));
    return cache.back()->stops;
}

} // namespace

viewlist getargs(std::string_view& target, const std::string& seperator, const stringlist& ends) {
    const stoplist& blacklist = argumentstops(seperator, ends);
    viewlist out;
    const char* separator = nullptr; // the separator before this element
    for (;;) {
        const std::string_view temp = reference::seekstring(target, blacklist, GIM, 0, false);
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

nesting bracketnesting(std::string_view text, std::int64_t limit) {
    const bool countall = text.find("\\\"") != std::string_view::npos;
    std::int64_t open[3] = {0, 0, 0};
    std::int64_t depth = 0;
    nesting out;
    bool instring = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"' && !countall) {
            instring = !instring;
            continue;
        }
        if (instring) continue;
        switch (c) {
        case '(':
        case '[':
        case '{':
            ++open[c == '(' ? 0 : c == '[' ? 1 : 2];
            out.deepest = std::max(out.deepest, ++depth);
            if (depth > limit && out.past == std::string_view::npos) out.past = at;
            break;
        case ')':
        case ']':
        case '}': {
            std::int64_t& kind = open[c == ')' ? 0 : c == ']' ? 1 : 2];
            if (kind > 0) {
                --kind;
                --depth;
            }
            break;
        }
        default:
            break;
        }
    }
    return out;
}

splitoutcome parsewords(std::string_view target) {
    splitoutcome out;
    std::int64_t codeblock = 0, expression = 0, list = 0, string1 = 0, string2 = 0;
    const auto sum = [&] { return codeblock + expression + list + string1 + string2; };
    std::size_t wordstart = 0, wordend = 0;
    const auto word = [&] {
        out.split.words.push_back(target.substr(wordstart, wordend - wordstart));
        wordstart = wordend = 0;
    };
    bool ignspace = false;
    for (std::size_t index = 0; index < target.size(); ++index) {
        const char c = target[index];
        const std::int64_t markersum = sum();
        if (c == '\n' && markersum <= 0) {
            word();
            out.split.ends.push_back(out.split.words.size());
            ignspace = true;
            continue;
        }
        const bool strings = string1 <= 0 && string2 <= 0;
        if (c == '"' && string1 <= 0) {
            ++string1;
        } else if (c == '\'' && string2 <= 0) {
            ++string2;
        } else if (c == '[' && strings && list <= 0) {
            ++list;
        } else if (c == '{' && strings && expression <= 0) {
            ++codeblock;
        } else if (c == '(' && strings && codeblock <= 0) {
            ++expression;
        }
        if (markersum > 0) {
            const bool closable = string1 <= 0 && string2 <= 0;
            if (c == '}' && closable && expression <= 0) {
                if (codeblock <= 0) {
                    out.status = 52;
                    out.at = index;
                    return out;
                }
                --codeblock;
            } else if (c == ')' && closable && codeblock <= 0) {
                if (expression <= 0) {
                    out.status = 54;
                    out.at = index;
                    return out;
                }
                --expression;
            } else if (c == '"') {
                --string1;
            } else if (c == '\'') {
                --string2;
            } else if (c == ']') {
                if (list <= 0) out.strays.push_back(index);
                --list;
            }
        }
        const bool blank = c == ' ' || c == '\t';
        if (blank && ignspace) continue;
        ignspace = false;
        if (sum() <= 0 && blank) {
            word();
            continue;
        }
        if (wordend == wordstart) wordstart = index;
        wordend = index + 1;
    }
    word();
    out.split.ends.push_back(out.split.words.size());
    if (sum() > 0) out.status = 51;
    return out;
}

} // namespace reference
