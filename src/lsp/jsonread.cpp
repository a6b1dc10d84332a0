// The fast reader of message bodies.
#include "jsonread.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zvlsp {

namespace {

using nlohmann::json;

class reader {
  public:
    explicit reader(std::string_view text) : text(text) {}

    bool document(json& out) {
        if (!value(out, 0)) return false;
        blanks();
        return at == text.size();
    }

  private:
    void blanks() {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
            ++at;
    }

    bool literal(std::string_view word) {
        if (text.substr(at, word.size()) != word) return false;
        at += word.size();
        return true;
    }

    bool value(json& out, int depth) {
        blanks();
        if (at >= text.size()) return false;
        switch (text[at]) {
        case '{':
            return object(out, depth + 1);
        case '[':
            return array(out, depth + 1);
        case '"': {
            std::string s;
            if (!string(s)) return false;
            out = std::move(s);
            return true;
        }
        case 't':
            out = true;
            return literal("true");
        case 'f':
            out = false;
            return literal("false");
        case 'n':
            out = nullptr;
            return literal("null");
        default:
            return integer(out);
        }
    }

    bool object(json& out, int depth) {
        if (depth > fastjsondepth) return false;
        ++at; // '{'
        out = json::object();
        blanks();
        if (at < text.size() && text[at] == '}') {
            ++at;
            return true;
        }
        for (;;) {
            blanks();
            std::string key;
            if (at >= text.size() || text[at] != '"' || !string(key)) return false;
            blanks();
            if (at >= text.size() || text[at] != ':') return false;
            ++at;
            if (out.contains(key)) return false; // the general reader's rule for these
            if (!value(out[key], depth)) return false;
            blanks();
            if (at >= text.size()) return false;
            if (text[at++] == '}') return true;
            if (text[at - 1] != ',') return false;
        }
    }

    bool array(json& out, int depth) {
        if (depth > fastjsondepth) return false;
        ++at; // '['
        out = json::array();
        blanks();
        if (at < text.size() && text[at] == ']') {
            ++at;
            return true;
        }
        for (;;) {
            out.push_back(nullptr);
            if (!value(out.back(), depth)) return false;
            blanks();
            if (at >= text.size()) return false;
            if (text[at++] == ']') return true;
            if (text[at - 1] != ',') return false;
        }
    }

    // An integer as the general reader stores it: unsigned without a sign, signed with one.
    bool integer(json& out) {
        const std::size_t begin = at;
        if (text[at] == '-') ++at;
        const std::size_t digits = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == digits || (text[digits] == '0' && at - digits > 1)) return false;
        if (at < text.size() && (text[at] == '.' || text[at] == 'e' || text[at] == 'E'))
            return false;
        const char* first = text.data() + begin;
        const char* last = text.data() + at;
        if (digits == begin) {
            std::uint64_t n = 0;
            const auto [end, err] = std::from_chars(first, last, n);
            if (err != std::errc{} || end != last) return false;
            out = n;
        } else {
            std::int64_t n = 0;
            const auto [end, err] = std::from_chars(first, last, n);
            if (err != std::errc{} || end != last) return false;
            out = n;
        }
        return true;
    }

    bool hex4(std::uint32_t& out) {
        if (text.size() - at < 4) return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at++];
            const int v = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (v < 0) return false;
            out = out * 16 + static_cast<std::uint32_t>(v);
        }
        return true;
    }

    static void appendcodepoint(std::string& out, std::uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool escape(std::string& out) {
        if (at >= text.size()) return false;
        const char c = text[at++];
        switch (c) {
        case '"':
            out += '"';
            return true;
        case '\\':
            out += '\\';
            return true;
        case '/':
            out += '/';
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        std::uint32_t code = 0;
        if (!hex4(code)) return false;
        if (code >= 0xDC00 && code <= 0xDFFF) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        appendcodepoint(out, code);
        return true;
    }

    // A string from its opening quote: runs of plain bytes are copied at once; a byte
    // past ASCII must begin a well-formed UTF-8 character.
    // Whether `c` ends a run of plain string bytes: a control byte, a quote, a backslash
    // or a byte past ASCII.
    static bool special(unsigned char c) { return c < 0x20 || c >= 0x80 || c == '"' || c == '\\'; }

    // Past the plain bytes from `at`: a document's text is mostly such bytes, looked at
    // sixteen at a time where the processor allows.
    std::size_t plainrun(std::size_t from) const {
#if defined(__SSE2__)
        const __m128i space = _mm_set1_epi8(0x20), quote = _mm_set1_epi8('"'),
                      backslash = _mm_set1_epi8('\\');
        for (; from + 16 <= text.size(); from += 16) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
            // Signed, bytes past ASCII are below 0x20 too.
            const __m128i hit = _mm_or_si128(
                _mm_cmplt_epi8(bytes, space),
                _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
            if (const int mask = _mm_movemask_epi8(hit); mask != 0)
                return from + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
#endif
        while (from < text.size() && !special(static_cast<unsigned char>(text[from]))) ++from;
        return from;
    }

    bool string(std::string& out) {
        ++at; // '"'
        for (;;) {
            const std::size_t run = at;
            while ((at = plainrun(at)) < text.size()) {
                const auto c = static_cast<unsigned char>(text[at]);
                if (c < 0x80) break;
                const std::size_t length = utf8::step(text, at);
                if (length == 1) return false;
                at += length;
            }
            out.append(text, run, at - run);
            if (at >= text.size()) return false;
            const char c = text[at++];
            if (c == '"') return true;
            if (c != '\\' || !escape(out)) return false;
        }
    }

    std::string_view text;
    std::size_t at = 0;
};

} // namespace

bool readjsonfast(std::string_view body, json& out) {
    json value;
    if (!reader(body).document(value)) return false;
    out = std::move(value);
    return true;
}

} // namespace zvlsp
