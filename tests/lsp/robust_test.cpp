// What the server must survive and report soundly: included files on disk holding bytes
// that are not UTF-8 (every message it writes stays valid JSON), and nesting past the
// limit, located at the opener in the document and in included files.
#include <sstream>

#include "framing.h"
#include "serve.h"
#include "session.h"

namespace {

using lsptest::json;
using lsptest::scratch;
using lsptest::session;

std::string framed(const json& message) {
    std::ostringstream out;
    zvlsp::writeframe(out, message.dump());
    return out.str();
}

// Every message the server wrote, parsed; a message that is not valid JSON (or UTF-8)
// fails the test.
std::vector<json> messages(const std::string& written) {
    std::istringstream in(written);
    zvlsp::framereader reader(in);
    std::vector<json> out;
    for (zvlsp::frame f = reader.next(); f.what != zvlsp::frame::kind::end; f = reader.next()) {
        EXPECT_EQ(f.what, zvlsp::frame::kind::message) << f.problem;
        out.push_back(json::parse(f.body, nullptr, false));
        EXPECT_FALSE(out.back().is_discarded()) << f.body;
    }
    return out;
}

// Included files as they may lie on disk: stray bytes in names' places, in a message's
// quote, cut sequences at a line end, overlong forms and surrogates.
const std::vector<std::string> badincludes = {
    "z = \"\xC3\"\nw = (2.55 + 1)q\xFF\xE2\x82\n",
    "def f\xC0\x80() {\n  return 1\n}\nx = f\xC0\x80()\n",
    "q\xED\xA0\x80 = 1\ny = q\xED\xA0\x80 +-1\n",
    "class C\xF5 {\n  def g() {return \"\xF8\"}\n}\n",
};

TEST(Robust, StrayBytesInIncludedFilesOnDisk) {
    for (const std::string& include : badincludes) {
        SCOPED_TRACE(include);
        scratch dir;
        dir.write("bad.ZVEX", include);
        const std::string uri = dir.uri("prog.zv");
        const std::string program = "x = 1\nalso bad\n";
        std::string input =
            framed({{"jsonrpc", "2.0"},
                    {"id", 1},
                    {"method", "initialize"},
                    {"params", {{"processId", nullptr}, {"capabilities", json::object()}}}}) +
            framed({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}}) +
            framed({{"jsonrpc", "2.0"},
                    {"method", "textDocument/didOpen"},
                    {"params",
                     {{"textDocument",
                       {{"uri", uri}, {"languageId", "zv"}, {"version", 1}, {"text", program}}}}}});
        // Requests that quote the included file: hover on the also statement, the outline,
        // definition of the included name.
        int id = 2;
        for (const char* method :
             {"textDocument/hover", "textDocument/definition", "textDocument/documentSymbol",
              "textDocument/semanticTokens/full", "textDocument/foldingRange"})
            input += framed({{"jsonrpc", "2.0"},
                             {"id", id++},
                             {"method", method},
                             {"params", session::at(uri, 1, 6)}});
        input += framed({{"jsonrpc", "2.0"}, {"id", id}, {"method", "shutdown"}}) +
                 framed({{"jsonrpc", "2.0"}, {"method", "exit"}});
        std::istringstream in(input);
        std::ostringstream out, log;
        EXPECT_EQ(zvlsp::serve(in, out, log), 0) << log.str();
        const std::vector<json> sent = messages(out.str());
        std::size_t replies = 0;
        for (const json& m : sent) replies += m.contains("id") ? 1 : 0;
        EXPECT_EQ(replies, static_cast<std::size_t>(id)) << out.str();
    }
}

// Line 2 of a file: "z = " and `depth` parentheses.
std::string deepline(int depth) {
    return "x = 1\nz = " + std::string(depth, '(') + "1" + std::string(depth, ')') + "\n";
}

TEST(Robust, NestingTooDeepAtTheOpener) {
    constexpr int limit = 2000;
    for (const int depth : {limit, limit + 1}) {
        SCOPED_TRACE(depth);
        session s;
        s.initialize();
        s.open("file:///w/a.zv", deepline(depth));
        const json d = s.diagnostics("file:///w/a.zv");
        if (depth == limit) {
            EXPECT_TRUE(d.empty()) << d.dump().substr(0, 300);
            continue;
        }
        ASSERT_EQ(d.size(), 1u);
        // The message, then its plain-word note on the next line.
        EXPECT_TRUE(d[0]["message"].get<std::string>().starts_with("Nesting too deep!\n"))
            << d[0]["message"];
        EXPECT_EQ(d[0]["range"]["start"], (json{{"line", 1}, {"character", 4 + limit}}));
        EXPECT_EQ(d[0]["range"]["end"], (json{{"line", 1}, {"character", 5 + limit}}));
    }
    // In an included file: shown on the also statement, placed at the opener (the also
    // statement takes one level).
    scratch dir;
    dir.write("deep.ZVEX", deepline(limit));
    session s;
    s.initialize();
    s.open(dir.uri("prog.zv"), "y = 2\nalso deep\n");
    const json d = s.diagnostics(dir.uri("prog.zv"));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_TRUE(d[0]["message"].get<std::string>().starts_with("deep.ZVEX: Nesting too deep!\n"))
        << d[0]["message"];
    const json& place = d[0]["relatedInformation"].at(0)["location"];
    EXPECT_EQ(place["uri"], dir.uri("deep.ZVEX"));
    EXPECT_EQ(place["range"]["start"], (json{{"line", 1}, {"character", 4 + limit - 1}}));
}

} // namespace
