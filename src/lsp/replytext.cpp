// JSON text of replies.
#include "replytext.h"

#include <charconv>

#include "utf8.h"

namespace zvlsp {

namespace {

// The escape of control character `c`: its short form where JSON has one, else \u00XX.
void appendcontrol(std::string& out, unsigned char c) {
    switch (c) {
    case '\b':
        out += "\\b";
        return;
    case '\t':
        out += "\\t";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\r':
        out += "\\r";
        return;
    default:
        break;
    }
    constexpr std::string_view hex = "0123456789abcdef";
    out += "\\u00";
    out += hex[c >> 4];
    out += hex[c & 0xF];
}

} // namespace

void appendstring(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c < 0x20) {
                appendcontrol(out, c);
            } else {
                if (c == '"' || c == '\\') out += '\\';
                out += static_cast<char>(c);
            }
            ++at;
            continue;
        }
        const std::size_t length = utf8::step(text, at);
        if (length == 1) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    out += '"';
}

void appendnumber(std::string& out, std::uint32_t n) {
    if (n < 10) { // most of the numbers of semantic tokens
        out += static_cast<char>('0' + n);
        return;
    }
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

void appendposition(std::string& out, position at) {
    out += R"({"character":)";
    appendnumber(out, at.character);
    out += R"(,"line":)";
    appendnumber(out, at.line);
    out += '}';
}

void appendrange(std::string& out, position begin, position end) {
    out += R"({"end":)";
    appendposition(out, end);
    out += R"(,"start":)";
    appendposition(out, begin);
    out += '}';
}

} // namespace zvlsp
