// Positions in document text: LSP positions (line, character in UTF-16 code units or UTF-8
// bytes, as negotiated) to byte offsets and back, and applying a didChange edit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zvlsp {

enum class encoding { utf16, utf8 };

struct position {
    std::uint32_t line = 0, character = 0;
    bool operator==(const position&) const = default;
};

// The byte offset of `pos` in `text`. Lines end at a line feed; a character past the end
// of its line means the end of the line (before a CR LF), a line past the last one the
// end of the text. A position inside a UTF-8 sequence rounds to the sequence's end.
std::size_t offsetat(std::string_view text, position pos, encoding enc);

// The position of byte `offset` in `text` (clamped to the text).
position positionat(std::string_view text, std::size_t offset, encoding enc);

// The line starts of a text, for converting many offsets of it.
class linemap {
  public:
    linemap(std::string_view text, encoding enc);
    position at(std::size_t offset) const;
    // The byte offset where line `line` starts; the text's end past the last line.
    std::size_t start(std::uint32_t line) const;

  private:
    std::string_view text;
    encoding enc;
    std::vector<std::size_t> starts;
};

// Code units of `text` (no line feed inside) in `enc`: bytes for UTF-8; for UTF-16 two
// for a well-formed four-byte sequence, one for any other sequence or stray byte.
std::size_t units(std::string_view text, encoding enc);

// Replaces the range `from`..`to` of `text` with `replacement`.
void replacerange(std::string& text, position from, position to, std::string_view replacement,
                  encoding enc);

} // namespace zvlsp
