// Every editing request at every position of awkward texts (unbalanced brackets, lone
// quotes, CR LF, multi-byte characters, stray closers, empty), in both position
// encodings: each is answered with a result, never an error, and a rename refused is a
// RequestFailed reply.
#include "session.h"

namespace {

using lsptest::json;
using lsptest::session;

const char* const texts[] = {
    "",
    "\n\n",
    "def f(a, b) {\n  return a+\n",
    "x = \"\xC3\xA9\xF0\x9F\x98\x80\" f(\r\ny = x.\r\n@",
    "class C {\n  def m() {\n    @v = [}\n  }\n}\nc = %C\nc.m(",
    "'\n\"\n(\n[\n{\n)\n]\n}\n",
    "also \nalso x\nGG = G\n$@ G {\n  @\n}\nnot(not(x))\nf(,,)\n1.99.9 = 2x\n",
    "def (a) {return a}\ndef g( {\nfor xs as {}\n",
};

TEST(EditingSweep, EveryRequestAtEveryPositionAnswers) {
    for (const bool utf8 : {false, true}) {
        session s;
        s.initialize(utf8 ? json{{"general", {{"positionEncodings", {"utf-8"}}}}} : json::object());
        for (const char* text : texts) {
            SCOPED_TRACE(text);
            const std::string uri = "file:///w/sweep.zv";
            s.open(uri, text);
            const std::string t = text;
            unsigned lines = 1;
            for (const char c : t) lines += c == '\n';
            for (unsigned line = 0; line <= lines; ++line) {
                for (unsigned character = 0; character <= 14; ++character) {
                    json at = session::at(uri, line, character);
                    for (const char* method :
                         {"textDocument/completion", "textDocument/signatureHelp",
                          "textDocument/references", "textDocument/documentHighlight",
                          "textDocument/prepareRename", "textDocument/hover"}) {
                        const json reply = s.call(method, at);
                        EXPECT_TRUE(reply.contains("result")) << method << " " << reply.dump();
                    }
                    at["newName"] = "renamed";
                    const json renamed = s.call("textDocument/rename", at);
                    if (renamed.contains("error")) { EXPECT_EQ(renamed["error"]["code"], -32803); }
                    const json range = {{"start", at["position"]}, {"end", at["position"]}};
                    const json fixes = s.call("textDocument/codeAction",
                                              {{"textDocument", {{"uri", uri}}},
                                               {"range", range},
                                               {"context", {{"diagnostics", json::array()}}}});
                    EXPECT_TRUE(fixes.contains("result")) << fixes.dump();
                }
            }
            EXPECT_TRUE(s.call("workspace/symbol", {{"query", ""}}).contains("result"));
        }
    }
}

} // namespace
