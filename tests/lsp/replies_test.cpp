// The replies written as JSON text against the way they were made before: semantic tokens
// encoded with a moving line cursor against a line-start table searched per token, and
// document symbols and folding ranges written straight into the reply against a JSON value
// dumped after its strings were cleaned, on ASCII, multibyte, CR LF and broken texts in both
// encodings; and the semantic tokens counted, then written in pieces, against the reply
// appended whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "jsontext.h"
#include "lspjson.h"
#include "pieces.h"
#include "replytext.h"
#include "symbols.h"
#include "tokens.h"

namespace {

using namespace zvlsp;
using nlohmann::json;

std::string readfile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

// The examples, and texts with multibyte and broken characters in names, strings and
// comments, CR LF line ends, nested classes and unclosed blocks.
std::vector<std::string> corpus() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(ZV_EXAMPLES_DIR)) {
        if (e.path().extension() == ".zv") out.push_back(readfile(e.path()));
    }
    out.push_back("def caf\xC3\xA9(a) {\n  s = \"\xE2\x82\xAC \xF0\x9F\x98\x80 x\"\n  return "
                  "a\n}\nclass \xF0\x9F\x98\x80"
                  "Box {\n  def m\xF0\x9F\x98\x80(b) {\n"
                  "    @v = b\n  }\n}\n");
    out.push_back("class Box {\r\n  def grow(by) {\r\n    @size = @size+by\r\n  }\r\n}\r\n"
                  "def g\xC3\xA9(a) {\r\n  return \"\xE2\x82\xAC\"\r\n}\r\n");
    // Stray continuation bytes, a cut four-byte sequence, overlong and surrogate forms.
    out.push_back("def f\x80g(a\xF0\x9F) {\n  x = \"\xED\xA0\x80 \xC0\xAF\" + a\n  return x\n}\n"
                  "class K\xFF {\n  def \xE2\x82(b) {\n    @c\xC3 = b\n  }\n}\n");
    // Quotes, backslashes and control characters in names and details.
    out.push_back("def q\\x(a\"b, \x01\x1F\x7F) {\n  return 1\n}\ndef (x) {\n  return x\n}\n"
                  "class C {\n  class D {\n    def e() {\n      return 2\n    }\n  }\n}\n"
                  "if 1 {\n  def inner(\t) {\n    return 3\n  }\n}\ndef open(a) {\n  x = (1\n");
    return out;
}

// The position of `offset` and a token's numbers as the line-start table gives them.
std::vector<std::uint32_t> tablewise(const std::vector<token>& tokens, std::string_view text,
                                     encoding enc) {
    std::vector<std::uint32_t> data;
    const linemap lines(text, enc);
    position previous;
    for (const token& t : tokens) {
        const position at = lines.at(t.begin);
        data.insert(data.end(),
                    {at.line - previous.line,
                     at.line == previous.line ? at.character - previous.character : at.character,
                     static_cast<std::uint32_t>(units(text.substr(t.begin, t.end - t.begin), enc)),
                     static_cast<std::uint32_t>(t.type), t.global ? 1u : 0u});
        previous = at;
    }
    return data;
}

TEST(Replies, TokensOfTheCorpusEncodeAsByTheLineTable) {
    for (const std::string& text : corpus()) {
        const outline tree(text);
        const std::vector<token> tokens = tokenize(tree, text);
        ASSERT_FALSE(tokens.empty());
        for (const encoding enc : {encoding::utf16, encoding::utf8}) {
            EXPECT_EQ(encodetokens(tokens, text, enc), tablewise(tokens, text, enc)) << text;
        }
    }
}

// Random texts of ASCII, multibyte, broken and line-end pieces, with tokens cut anywhere on
// a line (inside a character's bytes too), in order and, now and then, stepping back.
TEST(Replies, TokensCutAnywhereEncodeAsByTheLineTable) {
    const std::vector<std::string> pieces = {
        "a",    "bc ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF0\x9F", "\x80",
        "\xFF", "\n",  "\r\n",     "  ",           "\xED\xA0\x80"};
    std::mt19937 random(20);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 60);
        for (int i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
        std::vector<token> tokens;
        std::size_t at = 0;
        while (at < text.size()) {
            if (text[at] == '\n') {
                ++at;
                continue;
            }
            std::size_t end = at + 1 + random() % 5;
            end = std::min({end, text.size(), text.find('\n', at)});
            tokens.push_back(token{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end),
                                   tokentype::variable, false});
            if (random() % 9 == 0 && !tokens.empty()) {
                at = random() % (at + 1); // back to an earlier place
            } else {
                at = end + random() % 3;
            }
        }
        for (const encoding enc : {encoding::utf16, encoding::utf8}) {
            EXPECT_EQ(encodetokens(tokens, text, enc), tablewise(tokens, text, enc))
                << "round " << round;
        }
    }
}

// The symbols as they were built: a JSON value, with the keys a dump sorts.
enum symbolkind { classkind = 5, methodkind = 6, functionkind = 12 };

void domsymbols(std::span<const statement> list, const linemap& lines, bool inclass, json& out) {
    for (const statement& s : list) {
        const bool def = s.keyword && s.first() == "def";
        const bool cls = s.keyword && s.first() == "class";
        if ((!def && !cls) || s.words.size() < 2) {
            domsymbols(s.body, lines, false, out);
            continue;
        }
        const word& nameword = s.words[1];
        const std::string_view name = def ? defname(nameword.text()) : nameword.text();
        json symbol = {
            {"name", name.empty() ? std::string("(unnamed)") : std::string(name)},
            {"kind", cls       ? classkind
                     : inclass ? methodkind
                               : functionkind},
            {"range", rangejson(lines, s.begin(), s.end())},
            {"selectionRange", rangejson(lines, nameword.offset, nameword.offset + name.size())}};
        if (def) symbol["detail"] = std::string(nameword.text().substr(name.size()));
        json children = json::array();
        domsymbols(s.body, lines, cls, children);
        if (!children.empty()) symbol["children"] = std::move(children);
        out.push_back(std::move(symbol));
    }
}

TEST(Replies, SymbolsWrittenAsTextAreTheDumpedValue) {
    for (const std::string& text : corpus()) {
        const outline tree(text);
        for (const encoding enc : {encoding::utf16, encoding::utf8}) {
            json want = json::array();
            domsymbols(tree.statements(), linemap(text, enc), false, want);
            ASSERT_FALSE(want.empty());
            zvtool::cleanstrings(want);
            std::string got;
            appenddocumentsymbols(got, tree, text, enc);
            EXPECT_EQ(got, want.dump()) << text;
        }
    }
}

TEST(Replies, FoldingRangesWrittenAsTextAreTheDumpedValue) {
    for (const std::string& text : corpus()) {
        const outline tree(text);
        json want = json::array();
        eachfolding(tree, text, [&](std::uint32_t start, std::uint32_t end) {
            want.push_back({{"startLine", start}, {"endLine", end}});
        });
        std::string got;
        appendfoldingranges(got, tree, text);
        EXPECT_EQ(got, want.dump()) << text;
    }
}

// Every byte value, alone and around multibyte and broken characters.
TEST(Replies, StringsAreWrittenAsCleanedAndDumped) {
    std::vector<std::string> texts = {"",         "plain", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                                      "\xF0\x9F", "a\xC3", "\xED\xA0\x80\xC0\xAF\xF5\xFF"};
    for (int c = 0; c < 256; ++c) {
        texts.push_back(std::string(1, static_cast<char>(c)));
        std::string around = "x";
        around += static_cast<char>(c);
        around += "\xC3\xA9";
        texts.push_back(around);
    }
    for (const std::string& text : texts) {
        json want = text;
        zvtool::cleanstrings(want);
        std::string got;
        appendstring(got, text);
        EXPECT_EQ(got, want.dump()) << json(std::vector<int>(text.begin(), text.end())).dump();
    }
}

// The pieces a writer with `size` bytes of room hands out.
struct written {
    std::vector<std::string> pieces;
    std::string joined() const {
        std::string out;
        for (const std::string& p : pieces) out += p;
        return out;
    }
};

template <class write> written inpieces(std::size_t size, const write& body) {
    written out;
    std::vector<char> room(size);
    const piecesink sink = [&](std::string_view piece) { out.pieces.emplace_back(piece); };
    piecewriter to(room, sink);
    body(to);
    to.finish();
    return out;
}

// Every piece but the last fills the room, none is empty, and there are as many as the
// bytes need.
void expectfull(const written& w, std::size_t size, std::size_t length) {
    ASSERT_GT(size, 0u);
    EXPECT_EQ(w.pieces.size(), (length + size - 1) / size) << "room of " << size;
    for (std::size_t i = 0; i < w.pieces.size(); ++i) {
        EXPECT_FALSE(w.pieces[i].empty());
        if (i + 1 < w.pieces.size()) { EXPECT_EQ(w.pieces[i].size(), size) << "piece " << i; }
        EXPECT_LE(w.pieces[i].size(), size);
    }
}

// Writes and counts made of texts and numbers, with numbers at each count of digits and
// texts longer than the room, in rooms of every small size: the count is the bytes written,
// they are what the writes say, and the room bounds every piece.
TEST(Pieces, WritesAreCountedAndCutAtTheRoom) {
    struct write {
        bool number;
        std::string text;
        std::uint32_t n;
    };
    const std::vector<std::vector<write>> cases = {
        {},
        {{false, "", 0}},
        {{true, "", 0}},
        {{true, "", 9},
         {true, "", 10},
         {true, "", 99},
         {true, "", 100},
         {true, "", 999999999},
         {true, "", 1000000000},
         {true, "", 4294967295u}},
        {{false, "{\"data\":[", 0},
         {true, "", 7},
         {false, ",", 0},
         {true, "", 12},
         {false, "]}", 0}},
        {{false, std::string(37, 'x'), 0}, {true, "", 123456}, {false, "tail", 0}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        std::string want;
        piececounter counter;
        for (const write& w : cases[c]) {
            if (w.number) {
                want += std::to_string(w.n);
                counter.number(w.n);
            } else {
                want += w.text;
                counter.text(w.text);
            }
        }
        EXPECT_EQ(counter.length(), want.size()) << "case " << c;
        for (std::size_t size = 1; size <= want.size() + 2; ++size) {
            const written got = inpieces(size, [&](piecewriter& to) {
                for (const write& w : cases[c]) w.number ? to.number(w.n) : to.text(w.text);
            });
            EXPECT_EQ(got.joined(), want) << "case " << c << ", room of " << size;
            expectfull(got, size, want.size());
        }
        // No room: each write is handed out as it comes, and nothing is lost.
        const written bare = inpieces(0, [&](piecewriter& to) {
            for (const write& w : cases[c]) w.number ? to.number(w.n) : to.text(w.text);
        });
        EXPECT_EQ(bare.joined(), want) << "case " << c;
    }
}

// The room of the replies on the wire: a text of exactly its size is one piece, one byte more
// makes two.
TEST(Pieces, ReplyRoomHoldsItsSizeInOnePiece) {
    for (const std::size_t length :
         {replypiece - 1, replypiece, replypiece + 1, 2 * replypiece + 1}) {
        const std::string text(length, 'a');
        const written got = inpieces(replypiece, [&](piecewriter& to) { to.text(text); });
        EXPECT_EQ(got.joined(), text);
        expectfull(got, replypiece, length);
    }
}

// The corpus with an empty document and one of a single token.
std::vector<std::string> tokencorpus() {
    std::vector<std::string> out = corpus();
    out.push_back("");
    out.push_back("x");
    out.push_back("\r\n\n");
    return out;
}

// The reply counted and then written in pieces is the reply appended whole, byte for byte,
// in both encodings, with rooms of every small size and the sizes around the reply's own
// length: one piece short of it, the length itself, one more, and twice plus one.
TEST(Replies, TokensWrittenInPiecesAreTheAppendedReply) {
    for (const std::string& text : tokencorpus()) {
        const outline tree(text);
        for (const encoding enc : {encoding::utf16, encoding::utf8}) {
            std::string whole;
            appendsemantictokens(whole, tree, text, enc);
            const sizedreply reply = semantictokensreply(tree, text, enc);
            ASSERT_EQ(reply.length, whole.size()) << text;
            const std::size_t n = whole.size();
            std::vector<std::size_t> sizes = {n + 1, n, n - 1, (n - 1) / 2, n / 2, replypiece};
            for (std::size_t size = 1; size <= 70; ++size) sizes.push_back(size);
            for (const std::size_t size : sizes) {
                const written got = inpieces(size, [&](piecewriter& to) { reply.write(to); });
                ASSERT_EQ(got.joined(), whole) << "room of " << size << " on " << text;
                expectfull(got, size, n);
            }
            // The text is the tokens' numbers.
            const json parsed = json::parse(whole);
            EXPECT_EQ(parsed, json({{"data", encodetokens(tokenize(tree, text), text, enc)}}));
        }
    }
}

} // namespace
