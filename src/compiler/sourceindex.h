// The scanners' index of a source text. One pass over a window of the text records where
// the bytes stand at which a forward scan may have to stop (a bit per byte), and, for every
// bracket or double quote that opens a group, where a scan that meets it outside every group
// leaves that group again. A scan then runs from one such byte to the next and over whole
// groups in constant time per piece instead of testing every byte.
//
// The index only answers what it knows to be exactly what the byte-by-byte scan would
// find; everything else (escapes, groups whose brackets do not nest, quotes holding
// brackets, groups reaching past the window) it leaves unanswered, and the scan reads the
// bytes itself there. Its memory is one window, whatever the size of the text.
//
// The statement splitter and the nesting check run over whole texts before any scan (the
// splitter once more for the inside of every code block), so they do not move the window:
// they walk the same one-pass classification of the bytes a block of 64 at a time
// (`groupcursor`), from one quote, bracket or word break to the next.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// A walk over a text from one byte of a class to the next: quotes of both kinds and
// brackets of every kind (`marks`), square brackets and braces (`blocks`), or marks and
// blanks, tabs and line feeds (`marksorbreaks`). Each class of a block of 64 bytes is
// classified once, when the walk first asks for it, however often it asks again.
class groupcursor {
  public:
    enum which { marks, blocks, marksorbreaks, classes };
    explicit groupcursor(std::string_view text) : text(text) {
        for (std::size_t& block : loaded) block = ~std::size_t{0};
    }
    // The first offset from `at` of a byte of the class, or the size of the text.
    std::size_t next(std::size_t at, which kind) {
        for (;;) {
            if (at >= text.size()) return text.size();
            const std::size_t block = at >> 6;
            if (block != loaded[kind]) load(block, kind);
            const std::uint64_t left = masks[kind] & (~std::uint64_t{0} << (at & 63));
            if (left != 0) return (block << 6) + static_cast<std::size_t>(__builtin_ctzll(left));
            at = (block + 1) << 6;
        }
    }

  private:
    void load(std::size_t block, which kind);
    std::string_view text;
    std::size_t loaded[classes];
    std::uint64_t masks[classes] = {};
};

class sourceindex {
  public:
    // Bytes a window covers.
    static constexpr std::size_t windowsize = std::size_t{1} << 15;
    // The longest group whose end a window records.
    static constexpr std::size_t longestgroup = windowsize - 1;
    // A window is moved on once a scan comes this close to its end, unless it reaches the
    // end of its text; a new window starts this far before the byte it is made for.
    static constexpr std::size_t windowmargin = windowsize / 8;
    // Bytes of every kind at which a stop list's entries may begin for the index to serve
    // it; letters count only after a blank (for entries that stop only between blanks).
    static constexpr std::string_view stopbytes = "+-*/=!<>.,:()[]{}\"\\";

    // True when `at`, a byte of `source`, lies in the window, after moving the window there
    // when it did not. False when the text has been indexed so often already that indexing
    // more would no longer be linear in it.
    bool cover(std::string_view source, const char* at);
    // True when the window holds `at` far enough from its end to be used as it is.
    bool holds(const char* at) const { return at >= base && at < usable; }
    // The end of the window.
    const char* end() const { return base + size; }
    // The first byte from `at` (in the window) up to `limit` (at most the window's end) that
    // is a stop byte, or a letter after a blank; `limit` when there is none.
    const char* nextstop(const char* at, const char* limit) const {
        const auto from = static_cast<std::size_t>(at - base);
        const auto stop = static_cast<std::size_t>(limit - base);
        std::size_t word = from >> 6;
        std::uint64_t left = bits[word] & (~std::uint64_t{0} << (from & 63));
        while (left == 0) {
            if (++word << 6 >= stop) return limit;
            left = bits[word];
        }
        const std::size_t found = (word << 6) + static_cast<std::size_t>(__builtin_ctzll(left));
        return found < stop ? base + found : limit;
    }
    // The length of the group that the bracket or quote at `at` opens, as a scan that meets
    // it outside every group takes it (the closing character included), or 0 when unknown.
    std::size_t groupend(const char* at) const {
        const std::uint16_t length = ends[static_cast<std::size_t>(at - base)];
        return length;
    }
    // Forgets the window and the bytes indexed (a new compilation).
    void clear();

  private:
    void build(std::string_view source, const char* from);

    std::string_view text; // the source text of the window
    const char* base = nullptr;
    const char* usable = nullptr;
    std::size_t size = 0;
    std::vector<std::uint64_t> bits;     // per byte of the window: a stop byte
    std::vector<std::uint16_t> ends;     // per byte of the window: its group's length, or 0
    std::vector<std::uint16_t> recorded; // the bytes of the window with a length in `ends`
    std::vector<std::uint32_t> stack;    // the open groups while a window is built
    std::size_t indexed = 0;             // bytes indexed for `text`
};
