// Source text scanning: the delimiter map, the prefix tests, the two scanners and the
// argument-list splitter. Scanners take their text as a view and advance it; they never move
// the text that remains.
#include "rawapi.h"

#include <algorithm>
#include <array>
#include <memory>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "sourceindex.h"

const delimmap GIM = {{"(", ")"}, {"[", "]"}, {"{", "}"}, {"\"", "\""}};

bool isallalpha(std::string_view str) {
    for (char c : str) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
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
    std::string_view finish(compilation& c, std::string_view target) {
        const std::string_view consumed(start, static_cast<std::size_t>(target.data() - start));
        if (!escaped) return consumed;
        return c.arena.keep(out, consumed);
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
    explicit grouprecorder(compilation& into) : c(into) {}
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
        if (insource == 0) insource = c.insource({root, 1}) ? 1 : -1;
        if (insource > 0) c.groupends.remember(begin, static_cast<std::uint32_t>(length));
    }
    compilation& c;
    const char* root = nullptr;
    std::vector<std::pair<const char*, int>> nested;
    std::size_t cleanfrom = 0;
    bool rootok = false, nestedok = false;
    int insource = 0;
};

} // namespace

stoplist::stoplist(const stringlist& list) : entries(&list), any(!list.empty()) {
    // One pass over the entries, one over the bytes.
    bool firsts[256] = {}, notwords[256] = {};
    std::uint32_t counts[256] = {};
    for (const std::string& entry : list) {
        if (entry.empty()) {
            hasempty = true;
            continue;
        }
        const auto c = static_cast<unsigned char>(entry[0]);
        firsts[c] = true;
        notwords[c] = notwords[c] || !isallalpha(entry);
        ++counts[c];
    }
    for (int c = 0; c < 256; ++c) {
        const bool first = firsts[c] || hasempty;
        classes[c] = static_cast<std::uint8_t>((first ? 2 : 0) | (first && !notwords[c] ? 4 : 0));
    }
    for (const unsigned char c : std::string_view("()[]{}\"\\")) classes[c] |= 1;
    // Indexes by first byte, each byte's in list order; a list of more entries than an
    // index holds keeps them all, as does a list with an empty entry.
    hasempty = hasempty || list.size() > 0xFFFF;
    indexplain = indexwords = !hasempty;
    for (int c = 0; c < 256; ++c) {
        if (!(classes[c] & 2)) continue;
        const char byte = static_cast<char>(c);
        const bool stopbyte = sourceindex::stopbytes.find(byte) != std::string_view::npos;
        const bool wordletter = (classes[c] & 4) && isallalpha(std::string_view(&byte, 1));
        indexplain = indexplain && stopbyte;
        indexwords = indexwords && (stopbyte || wordletter);
    }
    if (hasempty) {
        for (std::size_t i = 0; i < list.size() && i <= 0xFFFF; ++i)
            order.push_back(static_cast<std::uint16_t>(i));
        return;
    }
    std::uint32_t next[256];
    std::uint32_t at = 0;
    for (int c = 0; c < 256; ++c) {
        begins[c] = static_cast<std::uint16_t>(at);
        next[c] = at;
        at += counts[c];
    }
    begins[256] = static_cast<std::uint16_t>(at);
    order.resize(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        order[next[static_cast<unsigned char>(list[i][0])]++] = static_cast<std::uint16_t>(i);
    }
}

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

// The forward scan outside every group, answered from the source index: plain bytes and
// whole groups are taken up to the stop entry that ends the scan (true, the result in
// `out`), or up to something the index does not answer (false, `target` advanced to it:
// what was taken is plain text, no escape in it). Behaves as the byte-by-byte scan does.
bool indexedscan(compilation& c, std::string_view& target, const stoplist& stops,
                 bool doalphachecking, std::string_view& out) {
    if (!(doalphachecking ? stops.indexwords : stops.indexplain)) return false;
    sourceindex& index = c.scanindex;
    const char* const begin = target.data();
    const char* const end = begin + target.size();
    const auto finishat = [&](const char* stop) {
        out = std::string_view(begin, static_cast<std::size_t>(stop - begin));
        target = std::string_view(stop, static_cast<std::size_t>(end - stop));
        return true;
    };
    const auto leaveat = [&](const char* stop) {
        target = std::string_view(stop, static_cast<std::size_t>(end - stop));
        return false;
    };
    const char* at = begin;
    while (at < end) {
        if (!index.holds(at)) {
            const std::int32_t file =
                c.fileholding(std::string_view(at, static_cast<std::size_t>(end - at)));
            if (file < 0 || !index.cover(c.files[static_cast<std::size_t>(file)]->text, at))
                return leaveat(at);
        }
        const char* const limit = std::min(end, index.end());
        const char* const p = index.nextstop(at, limit);
        at = p + 1;
        if (p == limit) {
            at = limit;
            continue;
        }
        const char ch = *p;
        const std::uint8_t k = stops.classes[static_cast<unsigned char>(ch)];
        if (k == 0) continue;
        const bool blankbefore = p > begin && p[-1] == ' ';
        // A word entry stops the scan only after a blank.
        if (!(k & 1) && doalphachecking && (k & 4) && !blankbefore) continue;
        if (ch == '\\') return leaveat(p);
        if (k & 2) {
            const std::string_view rest(p, static_cast<std::size_t>(end - p));
            for (const std::uint16_t entryindex : stops.candidates(ch)) {
                const std::string& entry = (*stops.entries)[entryindex];
                if (!checkstrings(rest, entry)) continue;
                if (!doalphachecking) return finishat(p);
                // With word checking the blank in front of an entry between blanks stays
                // with the text; a word entry stops only there.
                const bool blankafter = rest.size() > entry.size() && rest[entry.size()] == ' ';
                if (isallalpha(entry) && !(blankbefore && blankafter)) continue;
                return finishat(blankbefore && blankafter ? p - 1 : p);
            }
        }
        if (ch == '(' || ch == '[' || ch == '{' || ch == '"') {
            std::size_t length = index.groupend(p);
            if (length == 0) length = c.groupends.find(p);
            if (length == 0 || length > static_cast<std::size_t>(end - p)) return leaveat(p);
            at = p + length;
        }
        // A closing bracket outside every group closes nothing and is taken.
    }
    return finishat(end);
}

} // namespace

namespace {
std::string_view seekbytes(compilation& c, std::string_view& target, const char* begin,
                           const stoplist& stops, const delimmap& ignorance, int blacklistmode,
                           bool doalphachecking);
} // namespace

std::string_view seekstring(std::string_view& target, const stringlist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking) {
    return seekstring(target, readystops(blacklist), ignorance, blacklistmode, doalphachecking);
}

std::string_view seekstring(std::string_view& target, const stoplist& stops,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking) {
    return seekstring(current(), target, stops, ignorance, blacklistmode, doalphachecking);
}

std::string_view seekstring(compilation& c, std::string_view& target, const stoplist& stops,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking) {
    // Most scans meet no delimiter, backslash or first byte of an entry: their whole text is
    // the result. The characters before the first such byte only join the result, so the
    // scan below starts behind them.
    const char* const begin = target.data();
    if (&ignorance == &GIM && blacklistmode == 0) {
        std::string_view found;
        if (!target.empty() && indexedscan(c, target, stops, doalphachecking, found)) return found;
        const std::size_t size = target.size();
        const char* const from = target.data();
        std::size_t plain = 0;
        while (plain < size && stops.classes[static_cast<unsigned char>(from[plain])] == 0) {
            ++plain;
        }
        target.remove_prefix(plain);
        if (target.empty()) return {begin, static_cast<std::size_t>(target.data() - begin)};
    }
    return seekbytes(c, target, begin, stops, ignorance, blacklistmode, doalphachecking);
}

namespace {

// The forward scan byte by byte, from the front of `target`; what stands from `begin` up to
// there is plain text already taken. Kept apart from the index's path, which most scans
// finish on without needing any of this one's state.
[[gnu::noinline]] std::string_view seekbytes(compilation& comp, std::string_view& target,
                                             const char* const begin, const stoplist& stops,
                                             const delimmap& ignorance, int blacklistmode,
                                             bool doalphachecking) {
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
    const endmemo& groupends = comp.groupends;
    grouprecorder recorder(comp);
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
            if (!more) return result.finish(comp, target);
            continue;
        }
        if (openkinds == 0 && stops.any && stops.test(c)) {
            if (blacklistmode == 0) {
                for (const std::uint16_t index : stops.candidates(c)) {
                    const std::string& entry = blacklist[index];
                    if (!checkstrings(target, entry)) continue;
                    if (!doalphachecking) {
                        flush();
                        return result.finish(comp, target);
                    }
                    const bool blankbefore = endsinblank();
                    const bool blankafter =
                        target.size() > entry.size() && target[entry.size()] == ' ';
                    if (isallalpha(entry)) {
                        if (!(blankbefore && blankafter)) continue;
                        if (result.escaped) result.out.pop_back();
                        giveblankback(target);
                        return result.finish(comp, target);
                    }
                    if (blankbefore && blankafter) {
                        if (result.escaped) result.out.pop_back();
                        giveblankback(target);
                    }
                    return result.finish(comp, target);
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
                return result.finish(comp, target);
            }
        } else if (openkinds == 0 && blacklistmode != 0) {
            flush();
            return result.finish(comp, target);
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
    return result.finish(comp, target);
}

} // namespace

std::string_view reversedseekstring(std::string_view& target, const stringlist& blacklist,
                                    const delimmap& ignorance) {
    return reversedseekstring(target, readystops(blacklist), ignorance);
}

std::string_view reversedseekstring(std::string_view& target, const stoplist& stops,
                                    const delimmap& ignorance) {
    return reversedseekstring(current(), target, stops, ignorance);
}

std::string_view reversedseekstring(compilation& c, std::string_view& target, const stoplist& stops,
                                    const delimmap&) {
    const stringlist& blacklist = *stops.entries;
    // Entries that follow one another directly are a view of the text; blanks between them
    // or escapes make a copy, begun from the text taken so far when the run stops being
    // one stretch of the text.
    std::string out;
    const char* first = nullptr;
    const char* last = nullptr;
    bool contiguous = true;
    const auto begincopy = [&] {
        if (!contiguous) return;
        contiguous = false;
        if (first != nullptr) out.assign(first, static_cast<std::size_t>(last - first));
    };
    const auto finish = [&]() -> std::string_view {
        if (first == nullptr) return std::string_view(target.data(), 0);
        const std::string_view taken(first, static_cast<std::size_t>(last - first));
        if (contiguous) return taken;
        return c.arena.keep(out, taken);
    };
    while (!target.empty()) {
        if (target[0] == '\\') {
            begincopy();
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
            begincopy();
        }
        if (!contiguous) out.append(*caught);
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
    return getargs(current(), target, seperator, ends);
}

viewlist getargs(compilation& c, std::string_view& target, const std::string& seperator,
                 const stringlist& ends) {
    const stoplist& blacklist = argumentstops(seperator, ends);
    viewlist out;
    const char* separator = nullptr; // the separator before this element
    for (;;) {
        const std::string_view temp = seekstring(c, target, blacklist, GIM, 0, false);
        if (!temp.empty()) {
            out.push_back(temp);
        } else if (c.warning(warningkind::emptyelement)) {
            // Nothing before a separator, or after the last one: the element is dropped.
            const bool before = !target.empty() && target[0] == ',';
            if (before || separator != nullptr) {
                c.addwarning(warningkind::emptyelement,
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
            throw fatalerror{"getargs: no endings, no comma, ends not empty; seekstring failure "
                             "or malformed args.",
                             c.innermost()};
        }
        return out;
    }
}
