// The scanners' index of a source text: building a window (one pass that sets the stop
// bits and matches groups on a stack) and the queries the forward scan makes of it.
#include "sourceindex.h"

#include <algorithm>
#include <array>
#include <cstring>
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

// The classes of `groupcursor` a byte is in (bit k for class k), for the bytes that no 16
// fit.
constexpr std::array<std::uint8_t, 256> grouptable = [] {
    std::array<std::uint8_t, 256> table{};
    const auto in = [&](std::string_view bytes, groupcursor::which kind) {
        for (const char c : bytes) table[static_cast<unsigned char>(c)] |= std::uint8_t{1} << kind;
    };
    in("\"'()[]{}", groupcursor::marks);
    in("[]{}", groupcursor::blocks);
    in("\"'()[]{} \t\n", groupcursor::marksorbreaks);
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

namespace {

// The bytes of the class `kind` among `count` (at most 64) from `p`, bit i for byte i.
template <groupcursor::which kind> std::uint64_t groupmask(const char* p, std::size_t count) {
    std::uint64_t mask = 0;
    std::size_t at = 0;
#if defined(__SSE2__)
    for (; at + 16 <= count; at += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        // "[" and "]" differ from "{" and "}" only in bit 0x20.
        const __m128i folded = _mm_or_si128(c, _mm_set1_epi8(0x20));
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                                    _mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
        if constexpr (kind != groupcursor::blocks) {
            // "(" and ")" are 0x28 and 0x29.
            const __m128i paired = _mm_and_si128(c, _mm_set1_epi8(static_cast<char>(0xFE)));
            hits = _mm_or_si128(_mm_or_si128(hits, _mm_cmpeq_epi8(paired, _mm_set1_epi8('('))),
                                _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8('"')),
                                             _mm_cmpeq_epi8(c, _mm_set1_epi8('\''))));
        }
        if constexpr (kind == groupcursor::marksorbreaks) {
            hits = _mm_or_si128(_mm_or_si128(hits, _mm_cmpeq_epi8(c, _mm_set1_epi8(' '))),
                                _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8('\t')),
                                             _mm_cmpeq_epi8(c, _mm_set1_epi8('\n'))));
        }
        mask |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(hits)))
                << at;
    }
#endif
    for (; at < count; ++at) {
        if (grouptable[static_cast<unsigned char>(p[at])] & (std::uint8_t{1} << kind))
            mask |= std::uint64_t{1} << at;
    }
    return mask;
}

} // namespace

void groupcursor::load(std::size_t block, which kind) {
    const std::size_t first = block << 6;
    const char* p = text.data() + first;
    const std::size_t count = std::min<std::size_t>(64, text.size() - first);
#if defined(__SSE2__)
    // The last block of a text, copied behind zero bytes (in no class) so that it is
    // classified sixteen bytes at a time as well: the splitter walks many short texts.
    char last[64];
    if (count < 64) {
        std::memcpy(last, p, count);
        std::memset(last + count, 0, 64 - count);
        p = last;
    }
    constexpr std::size_t size = 64;
#else
    const std::size_t size = count;
#endif
    masks[kind] = kind == blocks  ? groupmask<blocks>(p, size)
                  : kind == marks ? groupmask<marks>(p, size)
                                  : groupmask<marksorbreaks>(p, size);
    loaded[kind] = block;
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
