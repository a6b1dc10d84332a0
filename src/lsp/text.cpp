// Position conversion between LSP positions and byte offsets of UTF-8 text.
#include "text.h"

#include <algorithm>

#include "utf8.h"

namespace zvlsp {

namespace {

std::size_t stepunits(std::size_t length, encoding enc) {
    if (enc == encoding::utf8) return length;
    return length == 4 ? 2 : 1;
}

// The start of line `line` (0-based), or npos past the last line.
std::size_t linestart(std::string_view text, std::uint32_t line) {
    std::size_t at = 0;
    for (std::uint32_t l = 0; l < line; ++l) {
        at = text.find('\n', at);
        if (at == std::string_view::npos) return at;
        ++at;
    }
    return at;
}

} // namespace

std::size_t units(std::string_view text, encoding enc) {
    return enc == encoding::utf8 ? text.size() : utf8::utf16units(text);
}

std::size_t offsetat(std::string_view text, position pos, encoding enc) {
    const std::size_t start = linestart(text, pos.line);
    if (start == std::string_view::npos) return text.size();
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') --end;
    std::size_t at = start;
    for (std::size_t counted = 0; at < end && counted < pos.character;) {
        const std::size_t length = utf8::step(text, at);
        counted += stepunits(length, enc);
        at += length;
    }
    return std::min(at, end);
}

linemap::linemap(std::string_view text, encoding enc) : text(text), enc(enc) {
    starts.push_back(0);
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string_view::npos;) {
        starts.push_back(++at);
    }
}

position linemap::at(std::size_t offset) const {
    offset = std::min(offset, text.size());
    const auto line = std::upper_bound(starts.begin(), starts.end(), offset) - 1;
    const std::size_t start = *line;
    return {static_cast<std::uint32_t>(line - starts.begin()),
            static_cast<std::uint32_t>(units(text.substr(start, offset - start), enc))};
}

std::size_t linemap::start(std::uint32_t line) const {
    return line < starts.size() ? starts[line] : text.size();
}

position positionat(std::string_view text, std::size_t offset, encoding enc) {
    return linemap(text, enc).at(offset);
}

void replacerange(std::string& text, position from, position to, std::string_view replacement,
                  encoding enc) {
    const std::size_t begin = offsetat(text, from, enc);
    const std::size_t end = std::max(begin, offsetat(text, to, enc));
    text.replace(begin, end - begin, replacement);
}

} // namespace zvlsp
