// The name index hover builds at one offset agrees with the whole index at every offset of
// the examples (with their includes) and of texts the splitter refuses; and semantic
// tokens written straight into the reply are the tokens the classifier lists, encoded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "namehover.h"
#include "names.h"
#include "tokens.h"
#include "uri.h"

namespace {

using namespace zvlsp;

std::string readfile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

// The example programs, and texts with unbalanced brackets, CR LF line ends, classes with
// methods and fields, parameters that shadow globals and loop variables.
std::vector<std::pair<std::string, std::string>> corpus() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : std::filesystem::directory_iterator(ZV_EXAMPLES_DIR)) {
        if (e.path().extension() == ".zv") out.emplace_back(e.path().string(), readfile(e.path()));
    }
    const std::string dir = std::string(ZV_EXAMPLES_DIR) + "/";
    out.emplace_back(dir + "open.zv", "also mathlib\nx = 1\ndef f(x, y) {\n  return x+y\n"
                                      "class C {\n  def m(a) {\n    @v = a\n");
    out.emplace_back(dir + "crlf.zv", "class Box {\r\n  def grow(by) {\r\n    @size = @size+by\r\n"
                                      "  }\r\n}\r\nb = %Box\r\nb.grow(2)\r\nGx = 3\r\n"
                                      "for i in [1, 2] {\r\n  Gx = Gx+i\r\n}\r\n");
    out.emplace_back(dir + "stray.zv",
                     "a = (1\nb = a)]\ns = \"é😀\"\ndef g(a) {\n  return a\n}\nc = g(b\n");
    return out;
}

TEST(NameIndex, FocusedAgreesWithTheWholeIndexAtEveryOffset) {
    for (const auto& [path, text] : corpus()) {
        SCOPED_TRACE(path);
        for (const bool split : {false, true}) {
            workspace ws;
            document& doc = ws.open(pathtouri(path), text, 1);
            if (split) doc.statements(); // the index reads the document's own outline
            const nameindex whole(ws, doc);
            for (std::size_t at = 0; at <= text.size(); ++at) {
                const auto want = describenameat(whole, at);
                const auto got = describenameat(nameindex(ws, doc, at), at);
                ASSERT_EQ(want.has_value(), got.has_value()) << "at " << at;
                if (!want) continue;
                EXPECT_EQ(got->begin, want->begin) << "at " << at;
                EXPECT_EQ(got->end, want->end) << "at " << at;
                EXPECT_EQ(got->markdown, want->markdown) << "at " << at;
            }
        }
    }
}

TEST(NameIndex, SemanticTokensReplyIsTheEncodedTokens) {
    for (const auto& [path, text] : corpus()) {
        SCOPED_TRACE(path);
        const outline tree(text);
        for (const encoding enc : {encoding::utf16, encoding::utf8}) {
            const auto data = encodetokens(tokenize(tree, text), text, enc);
            ASSERT_FALSE(data.empty());
            std::string want = R"({"data":[)";
            for (std::size_t i = 0; i < data.size(); ++i) {
                if (i) want += ',';
                want += std::to_string(data[i]);
            }
            want += "]}";
            std::string got;
            appendsemantictokens(got, tree, text, enc);
            EXPECT_EQ(got, want);
        }
    }
}

} // namespace
