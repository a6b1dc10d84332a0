// The scanners' index of a source text: building a window (one pass that sets the stop
// bits and matches groups on a stack) and the queries the forward scan makes of it.
#include "sourceindex.h"

#include <algorithm>
#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// What a byte is to the index: a stop byte (bit 0), a letter (bit 1), a bracket or quote
// that opens a group (bit 2) or one that closes it (bit 3); bits 4 and 5 hold the kind of
// group: parenthesis, square bracket, brace, double quote.
constexpr std::uint8_t stopbyte = 1, letter = 2, opener = 4, closer = 8;
constexpr int kindshift = 4;
constexpr std::uint32_t quotekind = 3;

constexpr std::array<std::uint8_t, 256> bytetable = [] {
    std::array<std::uint8_t, 256> table{};
    for (const char c : sourceindex::stopbytes) table[static_cast<unsigned char>(c)] = stopbyte;
    for (int c = 'a'; c <= 'z'; ++c) table[static_cast<std::size_t>(c)] = letter;
    for (int c = 'A'; c <= 'Z'; ++c) table[static_cast<std::size_t>(c)] = letter;
    const std::string_view opens = "([{\"", closes = ")]}";
    for (std::size_t kind = 0; kind < opens.size(); ++kind) {
        table[static_cast<unsigned char>(opens[kind])] |=
            static_cast<std::uint8_t>(opener | kind << kindshift);
    }
    for (std::size_t kind = 0; kind < closes.size(); ++kind) {
        table[static_cast<unsigned char>(closes[kind])] |=
            static_cast<std::uint8_t>(closer | kind << kindshift);
    }
    return table;
}();

// The classes of `classifygroups`, for the bytes that no 16 fit.
constexpr std::uint8_t groupmark = 1, groupblock = 2, groupbreak = 4;
constexpr std::array<std::uint8_t, 256> grouptable = [] {
    std::array<std::uint8_t, 256> table{};
    for (const char c : std::string_view("\"'()[]{}"))
        table[static_cast<unsigned char>(c)] = groupmark;
    for (const char c : std::string_view("[]{}"))
        table[static_cast<unsigned char>(c)] |= groupblock;
    for (const char c : std::string_view(" \t\n"))
        table[static_cast<unsigned char>(c)] = groupbreak;
    return table;
}();

} // namespace

void sourceindex::clear() {
    text = {};
    base = usable = nullptr;
    size = 0;
    indexed = 0;
}

bool sourceindex::cover(std::string_view source, const char* at) {
    if (holds(at)) return true;
    // Scans move forward through a text, a little back at most; each window costs its
    // bytes once. A text scanned back and forth over far apart places would make the
    // windows cost more than the scans they serve: past this allowance the scans read
    // the bytes themselves.
    const std::size_t allowance = 4 * source.size() + 4 * windowsize;
    if (indexed > allowance) return false;
    const std::size_t before = std::min(windowmargin, static_cast<std::size_t>(at - source.data()));
    build(source, at - before);
    return true;
}

namespace {

// The masks of 64 bytes from `p` (fewer at the end of the text): bytes that may stop a scan
// (every byte of the ranges that hold the stop bytes: more bytes than needed cost a look
// each, fewer would be wrong), brackets, quotes and backslashes (exact), letters, blanks.
struct blockmasks {
    std::uint64_t stops = 0, structure = 0, letters = 0, blanks = 0;
};

blockmasks classify(const char* p, std::size_t count) {
    blockmasks m;
    std::size_t at = 0;
#if defined(__SSE2__)
    const auto inrange = [](__m128i c, char low, char high) {
        // Unsigned c - low <= high - low, by shifting the range to the bottom of the signed
        // bytes.
        const __m128i shifted = _mm_add_epi8(c, _mm_set1_epi8(static_cast<char>(-128 - low)));
        return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + (high - low) + 1)));
    };
    for (; at + 16 <= count; at += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i stop =
            _mm_or_si128(_mm_or_si128(inrange(c, 0x21, 0x2F), inrange(c, 0x3A, 0x3E)),
                         _mm_or_si128(inrange(c, 0x5B, 0x5D), inrange(c, 0x7B, 0x7D)));
        __m128i structure = _mm_setzero_si128();
        for (const char s : {'(', ')', '[', ']', '{', '}', '"', '\\'})
            structure = _mm_or_si128(structure, _mm_cmpeq_epi8(c, _mm_set1_epi8(s)));
        const __m128i letter = inrange(_mm_or_si128(c, _mm_set1_epi8(0x20)), 'a', 'z');
        const __m128i blank = _mm_cmpeq_epi8(c, _mm_set1_epi8(' '));
        const auto put = [at](std::uint64_t& mask, __m128i bytes) {
            mask |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)))
                    << at;
        };
        put(m.stops, stop);
        put(m.structure, structure);
        put(m.letters, letter);
        put(m.blanks, blank);
    }
#endif
    for (; at < count; ++at) {
        const std::uint8_t k = bytetable[static_cast<unsigned char>(p[at])];
        const std::uint64_t bit = std::uint64_t{1} << at;
        if (k & (stopbyte | opener | closer)) m.stops |= bit;
        if (k & (opener | closer) || p[at] == '\\') m.structure |= bit;
        if (k & letter) m.letters |= bit;
        if (p[at] == ' ') m.blanks |= bit;
    }
    return m;
}

} // namespace

groupbytes classifygroups(const char* p, std::size_t count) {
    groupbytes m;
    std::size_t at = 0;
#if defined(__SSE2__)
    for (; at + 16 <= count; at += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        // "[" and "]" differ from "{" and "}" only in bit 0x20.
        const __m128i folded = _mm_or_si128(c, _mm_set1_epi8(0x20));
        const __m128i blocks = _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                                            _mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
        // "(" and ")" are 0x28 and 0x29, the quotes 0x22 and 0x27.
        const __m128i low = _mm_and_si128(c, _mm_set1_epi8(static_cast<char>(0xFE)));
        const __m128i marks =
            _mm_or_si128(_mm_or_si128(blocks, _mm_cmpeq_epi8(low, _mm_set1_epi8('('))),
                         _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8('"')),
                                      _mm_cmpeq_epi8(c, _mm_set1_epi8('\''))));
        const __m128i breaks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8(' ')),
                                                         _mm_cmpeq_epi8(c, _mm_set1_epi8('\t'))),
                                            _mm_cmpeq_epi8(c, _mm_set1_epi8('\n')));
        const auto put = [at](std::uint64_t& mask, __m128i bytes) {
            mask |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)))
                    << at;
        };
        put(m.marks, marks);
        put(m.blocks, blocks);
        put(m.breaks, breaks);
    }
#endif
    for (; at < count; ++at) {
        const std::uint8_t k = grouptable[static_cast<unsigned char>(p[at])];
        const std::uint64_t bit = std::uint64_t{1} << at;
        if (k & groupmark) m.marks |= bit;
        if (k & groupblock) m.blocks |= bit;
        if (k & groupbreak) m.breaks |= bit;
    }
    return m;
}

void sourceindex::build(std::string_view source, const char* from) {
    text = source;
    base = from;
    const char* const textend = source.data() + source.size();
    size = std::min(windowsize, static_cast<std::size_t>(textend - from));
    usable = base + size == textend ? textend : base + size - windowmargin;
    indexed += size;
    bits.assign(size / 64 + 1, 0);
    // Grown to the largest window made so far, never beyond: a small program zeroes no
    // more than its own size (zeroing a whole window cost a two-line program a fifth of
    // its instructions). Lengths left from the window before are cleared one by one.
    if (ends.size() < size) ends.resize(size);
    for (const std::uint16_t at : recorded) ends[at] = 0;
    recorded.clear();
    stack.clear();
    // The groups open at stack places below `cleanfrom` met something that makes a scan
    // from their opening character go other ways than the matching: a backslash, a
    // bracket inside a quote, a closer of another kind. Their ends are not recorded.
    std::size_t cleanfrom = 0;
    const auto close = [&](std::size_t at) {
        const std::uint32_t top = stack.back();
        stack.pop_back();
        const bool clean = stack.size() >= cleanfrom;
        cleanfrom = std::min(cleanfrom, stack.size());
        const std::size_t start = top >> 2;
        const std::size_t length = at + 1 - start;
        if (clean && length <= longestgroup) {
            ends[start] = static_cast<std::uint16_t>(length);
            recorded.push_back(static_cast<std::uint16_t>(start));
        }
    };
    // The byte after a backslash means nothing to a scan.
    std::size_t escapedat = size;
    bool blankbefore = true; // the window's first letter counts as after a blank
    for (std::size_t block = 0; block * 64 < size; ++block) {
        const std::size_t first = block * 64;
        const blockmasks m = classify(base + first, std::min<std::size_t>(64, size - first));
        const std::uint64_t afterblank = m.blanks << 1 | (blankbefore ? 1 : 0);
        blankbefore = m.blanks >> 63 != 0;
        bits[block] = m.stops | (m.letters & afterblank);
        for (std::uint64_t rest = m.structure; rest != 0; rest &= rest - 1) {
            const std::size_t at = first + static_cast<std::size_t>(__builtin_ctzll(rest));
            if (at == escapedat) continue;
            const std::uint8_t k = bytetable[static_cast<unsigned char>(base[at])];
            if (base[at] == '\\') {
                escapedat = at + 1;
                cleanfrom = stack.size();
                continue;
            }
            const auto kind = static_cast<std::uint32_t>(k >> kindshift);
            const bool inquote = !stack.empty() && (stack.back() & 3) == quotekind;
            if (kind == quotekind && (k & opener)) {
                if (inquote) {
                    close(at);
                } else {
                    stack.push_back(static_cast<std::uint32_t>(at) << 2 | quotekind);
                }
            } else if (k & opener) {
                // Inside a quote a bracket still counts for a scan: neither the quote nor
                // any group around it ends where the matching says, nor does this one.
                stack.push_back(static_cast<std::uint32_t>(at) << 2 | kind);
                if (inquote) cleanfrom = stack.size();
            } else if (k & closer) {
                if (!stack.empty() && (stack.back() & 3) == kind) {
                    close(at);
                } else {
                    cleanfrom = stack.size();
                }
            }
        }
    }
}
