// Position conversion between LSP positions and byte offsets of UTF-8 text.
#include "text.h"

#include <algorithm>

namespace zvlsp {

namespace {

// The length of the UTF-8 sequence at `at`, 1 for a byte that starts none that is
// well-formed (so that every byte belongs to exactly one step).
std::size_t sequence(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 1;
    if (at + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

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
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence(text, at);
        count += stepunits(length, enc);
        at += length;
    }
    return count;
}

std::size_t offsetat(std::string_view text, position pos, encoding enc) {
    const std::size_t start = linestart(text, pos.line);
    if (start == std::string_view::npos) return text.size();
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') --end;
    std::size_t at = start;
    for (std::size_t counted = 0; at < end && counted < pos.character;) {
        const std::size_t length = sequence(text, at);
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
