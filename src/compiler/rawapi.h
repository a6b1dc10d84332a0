// Source text scanning: the delimiter map `GIM`, the prefix tests, the forward scanner
// `seekstring`, the operator-run scanner `reversedseekstring` and the argument-list splitter
// `getargs`. (The call and member-path emitters `callfunc` and `gointo` are the compiler's,
// compiler.h.)
//
// The forward scanner answers from the source index (sourceindex.h) where the index knows
// the text: it goes from one possible stop byte to the next and over whole groups, and
// reads the bytes itself only where the index has no answer (escapes, groups whose
// brackets do not nest, texts that are no source text).
//
// Scanners consume their text from the front: the text is a view that the scanner advances
// past what it consumed, so a scan costs time linear in the characters it consumes and the
// rest of the text is never moved. What they return is a view of the text they consumed;
// only where they resolved an escape is it a copy, kept by the compilation context with the
// text it was made from, so that every result can be traced to its place in the source.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

typedef std::map<std::string, std::string> delimmap;
typedef std::vector<std::string> stringlist;
// Texts cut from a source text: views of it, or of text made from it (context.h).
typedef std::vector<std::string_view> viewlist;

struct compilation;

// "(" to ")", "[" to "]", "{" to "}", and the double quote to itself.
extern const delimmap GIM;

// True when every byte of `str` is one of the 52 ASCII letters (also for "").
bool isallalpha(std::string_view str);
// True when `x` begins with `y`. Inline: the scans and the code generators ask it for
// every operator and suffix they meet.
inline bool checkstrings(std::string_view x, std::string_view y) {
    // Most entries are one or two characters: the first comparison settles most tests.
    if (x.size() < y.size()) return false;
    if (y.empty()) return true;
    return x[0] == y[0] && x.substr(1, y.size() - 1) == y.substr(1);
}
// True when `x` begins with at least one element of `y`.
bool checkstrings(std::string_view x, const stringlist& y);

// A stop list made ready for scanning: its entries (not copied: they must outlive it), a
// class for every byte, and the entries by first byte. The compiler's own lists are made
// ready once.
struct stoplist {
    explicit stoplist(const stringlist& list);
    const stringlist* entries;
    bool any = false; // the list has entries
    // Every entry is a candidate at every byte: an entry is empty, and so fits everywhere,
    // or the list is too long to index.
    bool hasempty = false;
    // Per byte: a delimiter of `GIM` or a backslash (bit 0), the first byte of an entry
    // (bit 1), the first byte of entries made of letters only (bit 2), at which a scan
    // with word checking stops only after a blank.
    std::uint8_t classes[256] = {};
    // The source index can serve scans with the list: every entry begins with one of its
    // stop bytes (`indexplain`), or also, for scans with word checking, entries made of
    // letters only begin with a letter (`indexwords`).
    bool indexplain = false, indexwords = false;
    bool test(char c) const { return classes[static_cast<unsigned char>(c)] & 2; }
    bool onlywords(char c) const { return classes[static_cast<unsigned char>(c)] & 4; }
    // The entries that begin with a byte, in list order, as indexes into `entries`: those
    // of byte c stand in order[begins[c]] to order[begins[c + 1]]. With an empty entry
    // every byte has all of them.
    std::uint16_t begins[257] = {};
    std::vector<std::uint16_t> order;
    std::span<const std::uint16_t> candidates(char c) const {
        if (hasempty) return order;
        const auto u = static_cast<unsigned char>(c);
        return std::span<const std::uint16_t>(order).subspan(begins[u], begins[u + 1] - begins[u]);
    }
};

// Cuts the leading part off `target` and returns it with its escapes resolved.
// Stop-list mode (`blacklistmode` 0) stops in front of the first entry of `blacklist` found
// outside every delimiter pair of `ignorance`; with `doalphachecking`, word entries stop
// only between blanks, and one blank moves from the result back to the text. Accept-list
// mode (any other value) takes entries for as long as they follow one another.
std::string_view seekstring(std::string_view& target, const stringlist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking);
std::string_view seekstring(std::string_view& target, const stoplist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking);
// The scan in the compilation `c`: its source index, remembered groups and kept copies. The
// forms without `c` scan in the thread's current compilation (for tests and tools).
std::string_view seekstring(compilation& c, std::string_view& target, const stoplist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking);

// Takes the entries of `blacklist` that follow one another at the front of `target`,
// dropping the blanks around them, and returns them joined.
std::string_view reversedseekstring(std::string_view& target, const stringlist& blacklist,
                                    const delimmap& ignorance);
std::string_view reversedseekstring(std::string_view& target, const stoplist& blacklist,
                                    const delimmap& ignorance);
std::string_view reversedseekstring(compilation& c, std::string_view& target,
                                    const stoplist& blacklist, const delimmap& ignorance);

// Splits a bracketed list (its opening bracket already removed) into its element texts, up
// to the first of `ends`, which stays at the front of `target`.
// Empty elements are dropped.
viewlist getargs(std::string_view& target, const std::string& seperator, const stringlist& ends);
viewlist getargs(compilation& c, std::string_view& target, const std::string& seperator,
                 const stringlist& ends);
