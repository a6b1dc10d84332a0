// The statements of a document as the compiler splits them (its own statement splitter,
// in its keep-going mode, which repairs unbalanced brackets), with the bodies of block
// statements split again, recursively. Document symbols, folding ranges, go-to-definition
// and semantic tokens are built on this tree, so they agree with what the compiler sees
// even while the program does not compile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runstore.h"

namespace zvlsp {

// A document has a word for every few bytes: 16 bytes each, offsets in 32 bits (a text
// longer than that is not split).
struct word {
    const char* data = nullptr; // the word's text, in the outline's text
    std::uint32_t offset = 0;   // byte offset in the document
    std::uint32_t size = 0;
    std::string_view text() const { return {data, size}; }
    std::size_t end() const { return std::size_t{offset} + size; }
};

// The longest text an outline splits: its offsets must fit a word's.
constexpr std::size_t maxoutlined = std::numeric_limits<std::uint32_t>::max();

// Blocks deeper than this are not split; the compiler stops at 2000 anyway, and the tree
// is walked recursively.
constexpr int maxoutlinedepth = 200;

// Statements that ran on over lines are cut at most this often in one document; each cut
// is one more level of recursion.
constexpr std::size_t maxoutlinecuts = 1000;

// A document has a statement for every few dozen bytes: its words and its body are runs in
// the outline's storage, and the small fields go last, packed.
struct statement {
    std::span<const word> words;     // blank words dropped, as the compiler drops them
    std::span<const statement> body; // the block's statements
    std::int32_t bodyword = -1;      // index of the body word, when the form has one
    bool keyword = false;            // the first word is a statement keyword (not `kw = ...`)
    bool block = false;              // the body is a block in braces (perhaps cut unclosed)
    std::string_view first() const { return words.front().text(); }
    std::size_t begin() const { return words.front().offset; }
    std::size_t end() const { return words.back().end(); }
};

class outline {
  public:
    // Splits `text` (nothing, when it is longer than `maxoutlined`). Around unbalanced
    // brackets the statements are those the compiler's repairs give; a block cut by a repair
    // lacks its closing brace.
    explicit outline(std::string text);
    // The same for a text the outline shares with its owner: a text without CR LF line
    // ends is not copied.
    explicit outline(std::shared_ptr<const std::string> text);
    outline(const outline&) = delete;
    outline& operator=(const outline&) = delete;

    std::span<const statement> statements() const { return top; }
    // The bytes its words and statements take, with the room kept for more.
    std::size_t storagebytes() const;

  private:
    void build();
    // The text with each CR of a CR LF made a blank: the same offsets.
    std::shared_ptr<const std::string> source;
    runstore<word> words;
    runstore<statement> lists;
    std::span<const statement> top;
};

// Whether `c` can stand in a name: anything but blanks, line ends, quotes, brackets,
// operator characters and the punctuation of values ('.', ',', ':').
bool namechar(char c);

// The name a `def` word names: the text before its '(' (`add` of `add(a, b)`).
std::string_view defname(std::string_view word);

// The name an assignment target stores into: the head before any '.', '[' or '('.
std::string_view targetname(std::string_view target);

// The file an `also` statement includes: `NAME.ZVEX` for `also NAME`.
std::optional<std::string> alsofile(const statement& s);

// Calls `visit` for every statement, in document order, with its depth of blocks.
template <typename visitor>
void walkstatements(std::span<const statement> list, const visitor& visit, int depth = 0) {
    for (const statement& s : list) {
        visit(s, depth);
        walkstatements(s.body, visit, depth + 1);
    }
}

} // namespace zvlsp
