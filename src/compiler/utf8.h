// Characters of program text. Program text is bytes; a character is a well-formed UTF-8
// sequence (shortest form, no surrogate, at most U+10FFFF) or, failing that, any single
// byte. Every tool counts columns, draws carets, converts editor positions and cleans text
// for JSON with these functions, so that they all agree on where a character ends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utf8 {

// The number of bytes of the character at `at` (`at` < text.size()): 2 to 4 for a
// well-formed sequence that lies wholly inside `text`, 1 for any other byte.
constexpr std::size_t step(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0xC2 || lead > 0xF4) return 1; // ASCII, continuation, C0/C1 overlong, F5-FF
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (text.size() - at < length) return 1;
    // The second byte's range: it rules out overlong forms, surrogates and values past
    // U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (byte(1) < low || byte(1) > high) return 1;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 1;
    return length;
}

// The number of characters of `text`.
constexpr std::size_t columns(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); at += step(text, at)) ++count;
    return count;
}

// The number of UTF-16 code units of `text`: two for a four-byte sequence, one for any
// other character (a stray byte stands for one replacement character).
constexpr std::size_t utf16units(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = step(text, at);
        count += length == 4 ? 2 : 1;
        at += length;
    }
    return count;
}

// `text` as valid UTF-8: every byte that is not part of a character's sequence becomes
// U+FFFD, one for each byte, so the result has as many characters as `text` has.
inline std::string clean(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = step(text, at);
        if (length == 1 && static_cast<unsigned char>(text[at]) >= 0x80)
            out += "\xEF\xBF\xBD";
        else
            out.append(text, at, length);
        at += length;
    }
    return out;
}

} // namespace utf8
