// Reading a document into semantic tokens.
#include "tokens.h"

#include <algorithm>
#include <array>

#include "language.h"
#include "replytext.h"
#include "utf8.h"

namespace zvlsp {

namespace {

// Bytes of the semantic tokens reply reserved for each byte of the document.
constexpr std::size_t replyperbyte = 4;

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// A character of a punctuation operator (assignment's '=' is one of "=="), looked up in a
// table made once from the operators, as the lexer asks of nearly every character.
bool operatorchar(char c) {
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> out{};
        for (const operatorinfo& o : operatortable) {
            if (o.word) continue;
            for (const char in : o.text) out[static_cast<unsigned char>(in)] = true;
        }
        return out;
    }();
    return table[static_cast<unsigned char>(c)];
}

class lexer {
  public:
    lexer(std::string_view text, const tokenvisitor& out) : text(text), out(out) {}

    void statements(std::span<const statement> list, bool inclass) {
        for (const statement& s : list) one(s, inclass);
    }

  private:
    // Adds a token, cut at line ends (a token may not span lines).
    void add(std::size_t begin, std::size_t end, tokentype type, bool global = false) {
        while (begin < end) {
            // Looks for the line end within the token only: a long line is not searched
            // again for each of its tokens.
            std::size_t stop = text.substr(begin, end - begin).find('\n');
            stop = stop == std::string_view::npos ? end : begin + stop;
            std::size_t last = stop;
            if (last > begin && text[last - 1] == '\r') --last;
            if (last > begin)
                out(token{static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(last), type,
                          global});
            begin = stop + 1;
        }
    }

    void addword(const word& w, tokentype type) { add(w.offset, w.end(), type); }

    void one(const statement& s, bool inclass) {
        if (!s.keyword) {
            const bool assignment = s.words.size() >= 2 && s.words[1].text() == "=";
            for (std::size_t i = 0; i < s.words.size(); ++i) {
                if (assignment && i == 1) {
                    addword(s.words[i], tokentype::op);
                } else {
                    expression(s.words[i].offset, s.words[i].end());
                }
            }
            return;
        }
        const std::string_view kw = s.first();
        addword(s.words[0], tokentype::keyword);
        for (std::size_t i = 1; i < s.words.size(); ++i) {
            const word& w = s.words[i];
            if (static_cast<int>(i) == s.bodyword) {
                body(s, w, kw == "class");
            } else if (kw == "def" && i == 1) {
                const std::size_t name = defname(w.text()).size();
                add(w.offset, w.offset + name, tokentype::function,
                    !inclass && name > 1 && w.text().front() == 'G');
                names(w.offset + name, w.end(), tokentype::parameter);
            } else if (kw == "class" && i == 1) {
                add(w.offset, w.end(), tokentype::type,
                    !inclass && w.text().size() > 1 && w.text().front() == 'G');
            } else if (kw == "for" && i == 2) {
                addword(w, tokentype::keyword);
            } else if (kw == "for" && i == 3) {
                addword(w, tokentype::variable);
            } else if (kw == "also" && i == 1) {
                addword(w, tokentype::name);
            } else {
                expression(w.offset, w.end());
            }
        }
    }

    // A body: a block's statements, or a one-word statement standing for the block.
    void body(const statement& s, const word& w, bool inclass) {
        if (s.block) {
            statements(s.body, inclass);
        } else if (w.text() == "return") {
            addword(w, tokentype::keyword);
        } else {
            expression(w.offset, w.end());
        }
    }

    // Every run of name characters in `begin`..`end` as a token of `type`.
    void names(std::size_t begin, std::size_t end, tokentype type) {
        for (std::size_t i = begin; i < end;) {
            if (!namechar(text[i])) {
                ++i;
                continue;
            }
            const std::size_t start = i;
            while (i < end && namechar(text[i])) ++i;
            add(start, i, type);
        }
    }

    std::size_t run(std::size_t i, std::size_t end, bool (*pred)(char)) const {
        while (i < end && pred(text[i])) ++i;
        return i;
    }

    void expression(std::size_t begin, std::size_t end) {
        bool operand = true; // an operand is expected: a '-' there starts a number
        for (std::size_t i = begin; i < end;) {
            const char c = text[i];
            if (blank(c)) {
                ++i;
            } else if (c == '"' || c == '\'') {
                std::size_t j = i + 1;
                while (j < end && text[j] != c) j += c == '"' && text[j] == '\\' ? 2 : 1;
                j = std::min(j + 1, end);
                if (c == '"') add(i, j, tokentype::string);
                i = j;
                operand = false;
            } else if (c == '.') {
                const std::size_t j = run(i + 1, end, namechar);
                add(i + 1, j, tokentype::property);
                i = j;
            } else if (c == '-' && operand && i + 1 < end && digit(text[i + 1])) {
                i = number(i, i + 1, end);
                operand = false;
            } else if (operatorchar(c)) {
                const std::size_t j = run(i, end, operatorchar);
                add(i, j, tokentype::op);
                i = j;
                operand = true;
            } else if (namechar(c)) {
                i = name(i, end, operand);
            } else {
                operand = c == '(' || c == '[' || c == '{' || c == ',' || c == ':';
                ++i;
            }
        }
    }

    // A number from `from` (its '-' or first digit), digits from `digits` on.
    std::size_t number(std::size_t from, std::size_t digits, std::size_t end) {
        std::size_t j = run(digits, end, digit);
        if (j + 1 < end && text[j] == '.' && digit(text[j + 1])) j = run(j + 1, end, digit);
        add(from, j, tokentype::number);
        return j;
    }

    std::size_t name(std::size_t i, std::size_t end, bool& operand) {
        const std::size_t j = run(i, end, namechar);
        const std::string_view w = text.substr(i, j - i);
        const bool spaced = i > 0 && blank(text[i - 1]) && j < text.size() && blank(text[j]);
        const operatorinfo* op = findoperator(w);
        const bool wordop = op && op->word;
        // `not` is an operator before a blank; the others between blanks.
        const bool notop = wordop && w == "not" && j < text.size() && text[j] == ' ';
        if (notop || (spaced && wordop && w != "not")) {
            add(i, j, tokentype::op);
            operand = true;
            return j;
        }
        operand = false;
        if (digit(w.front()) && run(i, j, digit) == j) return number(i, i, end);
        const bool global = w.size() > 1 && w.front() == 'G';
        const bool member = w.substr(global ? 1 : 0).starts_with('@');
        add(i, j, member ? tokentype::property : tokentype::variable, global);
        return j;
    }

    std::string_view text;
    const tokenvisitor& out;
};

// Encodes tokens one after another, each relative to the one before, as the protocol wants.
// Tokens come in document order, so the line is found by moving a cursor forward rather
// than by searching a table of line starts, and UTF-16 units are counted only on the lines
// that hold a byte past ASCII (each line is looked at once, when the cursor enters it).
class tokenencoder {
  public:
    tokenencoder(std::string_view text, encoding enc) : text(text), enc(enc) { enterline(0); }

    // The five numbers of `t`.
    std::array<std::uint32_t, 5> next(const token& t) {
        const position at = positionof(t.begin);
        const std::string_view body = text.substr(t.begin, t.end - t.begin);
        const std::uint32_t length =
            static_cast<std::uint32_t>(counted() ? units(body, enc) : body.size());
        const std::array<std::uint32_t, 5> out{
            at.line - previous.line,
            at.line == previous.line ? at.character - previous.character : at.character, length,
            static_cast<std::uint32_t>(t.type), t.global ? 1u : 0u};
        previous = at;
        return out;
    }

  private:
    // Whether the units of the cursor's line must be counted rather than its bytes.
    bool counted() const { return enc == encoding::utf16 && !ascii; }

    void enterline(std::size_t start) {
        linestart = start;
        lineend = std::min(text.find('\n', start), text.size());
        ascii = std::all_of(text.begin() + static_cast<std::ptrdiff_t>(start),
                            text.begin() + static_cast<std::ptrdiff_t>(lineend),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        walked = start;
        walkedunits = 0;
    }

    // The position of byte `offset`, as linemap::at gives it.
    position positionof(std::size_t offset) {
        offset = std::min(offset, text.size());
        while (offset > lineend) {
            enterline(lineend + 1);
            ++line;
        }
        while (offset < linestart) { // out of order: never for the lexer's tokens
            const std::size_t before = linestart - 1;
            enterline(before == 0 ? 0 : text.rfind('\n', before - 1) + 1);
            --line;
        }
        if (!counted()) return {line, static_cast<std::uint32_t>(offset - linestart)};
        if (offset < walked) {
            walked = linestart;
            walkedunits = 0;
        }
        // The line's characters are walked once: `walked` stays on a character's start, and
        // the bytes of a character cut at `offset` count one unit each, as they do when the
        // line's text up to `offset` is counted alone.
        while (walked < offset) {
            const std::size_t step = utf8::step(text, walked);
            if (walked + step > offset) break;
            walkedunits += step == 4 ? 2 : 1;
            walked += step;
        }
        return {line, static_cast<std::uint32_t>(walkedunits + (offset - walked))};
    }

    std::string_view text;
    encoding enc;
    std::uint32_t line = 0;
    std::size_t linestart = 0, lineend = 0; // the cursor's line: its first byte, its '\n'
    bool ascii = true;                      // the cursor's line has no byte past ASCII
    std::size_t walked = 0;                 // a character start on the line, up to which
    std::size_t walkedunits = 0;            // this many UTF-16 units lie
    position previous;
};

} // namespace

nlohmann::json tokenlegend() {
    return {{"tokenTypes",
             {"keyword", "operator", "variable", "property", "number", "string", "function",
              "class", "parameter", "namespace"}},
            {"tokenModifiers", {"global"}}};
}

void eachtoken(std::span<const statement> list, std::string_view text, const tokenvisitor& visit) {
    lexer(text, visit).statements(list, false);
}

std::vector<token> tokenize(const outline& tree, std::string_view text) {
    std::vector<token> out;
    eachtoken(tree.statements(), text, [&](const token& t) { out.push_back(t); });
    return out;
}

std::vector<std::uint32_t> encodetokens(const std::vector<token>& tokens, std::string_view text,
                                        encoding enc) {
    std::vector<std::uint32_t> data;
    data.reserve(tokens.size() * 5);
    tokenencoder encoder(text, enc);
    for (const token& t : tokens) {
        for (const std::uint32_t n : encoder.next(t)) data.push_back(n);
    }
    return data;
}

namespace {

// The SemanticTokens reply, `{"data":[...]}`, written to `out` (a `piececounter`, a
// `piecewriter` or a `stringout`) as the tokens are read. Nothing here allocates but the
// lexer's visitor, which holds one reference and so fits in the function's own room: the
// writing pass, run after the counting pass on the same text, does not throw.
template <class output>
void writesemantictokens(output& out, const outline& tree, std::string_view text, encoding enc) {
    struct state {
        output& out;
        tokenencoder encoder;
        bool first = true;
    } walk{out, tokenencoder(text, enc)};
    out.text(R"({"data":[)");
    eachtoken(tree.statements(), text, [&walk](const token& t) {
        for (const std::uint32_t n : walk.encoder.next(t)) {
            if (!walk.first) walk.out.text(",");
            walk.first = false;
            walk.out.number(n);
        }
    });
    out.text("]}");
}

// Text appended to a string.
struct stringout {
    std::string& out;
    void text(std::string_view s) { out += s; }
    void number(std::uint32_t n) { appendnumber(out, n); }
};

} // namespace

void appendsemantictokens(std::string& out, const outline& tree, std::string_view text,
                          encoding enc) {
    // A program has about one token to four bytes, a token a dozen bytes of numbers: room
    // for more, which costs nothing until written, saves copying the reply as it grows.
    out.reserve(out.size() + text.size() * replyperbyte + 2);
    stringout to{out};
    writesemantictokens(to, tree, text, enc);
}

sizedreply semantictokensreply(const outline& tree, std::string_view text, encoding enc) {
    piececounter counter;
    writesemantictokens(counter, tree, text, enc);
    return {counter.length(),
            [&tree, text, enc](piecewriter& out) { writesemantictokens(out, tree, text, enc); }};
}

} // namespace zvlsp
