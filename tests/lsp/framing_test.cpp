// The framing reader on well-formed and broken streams, and the stdio loop over it: what
// each stream yields, how the reader recovers, and the exit status.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <sstream>

#include <thread>

#include "framing.h"
#include "serve.h"

namespace {

using zvlsp::frame;

std::string framed(const std::string& body) {
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A frame as a short string: "m:BODY", "bad", or "end".
std::string show(const frame& f) {
    switch (f.what) {
    case frame::kind::message:
        return "m:" + f.body;
    case frame::kind::bad:
        return "bad";
    case frame::kind::end:
        return "end";
    }
    return "?";
}

struct stream {
    const char* name;
    std::string input;
    std::vector<std::string> frames; // up to and including the first "end"
};

TEST(Framing, ReadsAndRecovers) {
    const std::string big = "Content-Length: 100\r\n\r\n" + std::string(100, 'x');
    const stream table[] = {
        {"one", framed("{}"), {"m:{}", "end"}},
        {"two and other headers",
         "Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n" + framed("[1]") +
             framed("{\"a\":1}"),
         {"m:[1]", "m:{\"a\":1}", "end"}},
        {"bare line feeds, case", "content-length: 2\n\n{}", {"m:{}", "end"}},
        {"empty body", framed(""), {"m:", "end"}},
        {"no length, then recovers",
         "X-Other: 1\r\n\r\n{}garbage\r\n" + framed("{}"),
         {"bad", "m:{}", "end"}},
        {"not a number", "Content-Length: 12a\r\n\r\n" + framed("1"), {"bad", "m:1", "end"}},
        {"negative", "Content-Length: -1\r\n\r\n" + framed("1"), {"bad", "m:1", "end"}},
        {"twice",
         "Content-Length: 1\r\nContent-Length: 1\r\n\r\nx\r\n" + framed("2"),
         {"bad", "m:2", "end"}},
        {"over the limit is skipped", big + framed("3"), {"bad", "m:3", "end"}},
        {"header line too long",
         std::string(5000, 'h') + "\r\n\r\n" + framed("4"),
         {"bad", "m:4", "end"}},
        {"no colon", "garbage\r\n\r\n" + framed("5"), {"bad", "m:5", "end"}},
        {"cut body", "Content-Length: 10\r\n\r\nabc", {"end"}},
        {"cut header", "Content-Len", {"end"}},
        {"huge length, short stream",
         "Content-Length: 99999999999999999999\r\n\r\nx",
         {"bad", "end"}},
    };
    for (const stream& s : table) {
        SCOPED_TRACE(s.name);
        std::istringstream in(s.input);
        zvlsp::framereader reader(in, 64);
        std::vector<std::string> got;
        for (int i = 0; i < 10; ++i) {
            got.push_back(show(reader.next()));
            if (got.back() == "end") break;
        }
        EXPECT_EQ(got, s.frames);
    }
}

TEST(Framing, WriterFramesWhatTheReaderReads) {
    std::ostringstream out;
    zvlsp::writeframe(out, "{\"x\":\"\xC3\xA9\"}");
    zvlsp::writeframe(out, "");
    EXPECT_EQ(out.str().substr(0, 22), "Content-Length: 10\r\n\r\n");
    std::istringstream in(out.str());
    zvlsp::framereader reader(in);
    EXPECT_EQ(show(reader.next()), "m:{\"x\":\"\xC3\xA9\"}");
    EXPECT_EQ(show(reader.next()), "m:");
}

struct run {
    const char* name;
    std::vector<std::string> bodies;
    int status;
    std::vector<std::string> replies; // substrings of the output, in order
};

TEST(Serve, ExitStatusAndErrorReplies) {
    const std::string init =
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})";
    const std::string shutdown = R"({"jsonrpc":"2.0","id":2,"method":"shutdown"})";
    const std::string exit = R"({"jsonrpc":"2.0","method":"exit"})";
    const run table[] = {
        {"shutdown then exit",
         {init, shutdown, exit},
         0,
         {R"("id":1)", R"("id":2,"jsonrpc":"2.0","result":null)"}},
        {"exit without shutdown", {init, exit}, 1, {R"("id":1)"}},
        {"exit before initialize", {exit}, 1, {}},
        {"input ends", {init}, 1, {R"("id":1)"}},
        {"exit spelt with an escape",
         {init, shutdown, R"({"jsonrpc":"2.0","method":"\u0065xit"})"},
         0,
         {R"("id":2,"jsonrpc":"2.0","result":null)"}},
        {"exit padded and with params",
         {init, shutdown,
          R"({"jsonrpc":"2.0",)" + std::string(500, ' ') + R"("method":"exit","params":{}})", init},
         0,
         {R"("id":2,"jsonrpc":"2.0","result":null)"}},
        {"bad JSON then goes on",
         {"{nope", init, shutdown, exit},
         0,
         {R"({"error":{"code":-32700)", R"("id":null)", R"("id":1)"}},
    };
    for (const run& r : table) {
        SCOPED_TRACE(r.name);
        std::string input;
        for (const std::string& b : r.bodies) input += framed(b);
        std::istringstream in(input);
        std::ostringstream out, log;
        EXPECT_EQ(zvlsp::serve(in, out, log), r.status);
        std::size_t at = 0;
        for (const std::string& reply : r.replies) {
            at = out.str().find(reply, at);
            ASSERT_NE(at, std::string::npos) << reply << " in " << out.str();
        }
    }
}

// A burst of edits read from the stream: every message is handled, the last diagnostics
// are those of the newest text, and the request after the edits sees it.
TEST(Serve, BurstOfEditsEndsOnTheNewestText) {
    std::string input =
        framed(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})");
    input += framed(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":)"
                    R"({"uri":"file:///b.zv","languageId":"zv","version":1,"text":"x = 1\n"}}})");
    for (int v = 2; v <= 20; ++v) {
        const std::string text = v % 2 ? "x = a+-b\\n" : "x = 1\\ny = 2.55\\n";
        input += framed(R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":)"
                        R"({"textDocument":{"uri":"file:///b.zv","version":)" +
                        std::to_string(v) + R"(},"contentChanges":[{"text":")" + text + R"("}]}})");
    }
    input += framed(R"({"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol",)"
                    R"("params":{"textDocument":{"uri":"file:///b.zv"}}})");
    input += framed(R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})");
    input += framed(R"({"jsonrpc":"2.0","method":"exit"})");
    std::istringstream in(input);
    std::ostringstream out, log;
    EXPECT_EQ(zvlsp::serve(in, out, log), 0);
    const std::string got = out.str();
    const std::size_t last = got.rfind("publishDiagnostics");
    ASSERT_NE(last, std::string::npos);
    EXPECT_NE(got.find(R"("version":20)", last), std::string::npos) << got.substr(last);
    EXPECT_NE(got.find("decimal-digits", last), std::string::npos);
    EXPECT_LT(last, got.find(R"("id":2)"));
    EXPECT_NE(got.find(R"("id":3)"), std::string::npos);
}

// An output buffer that notes whether a thread other than its owner wrote or flushed it.
class ownedbuf : public std::stringbuf {
  public:
    std::atomic<bool> foreign = false;

  protected:
    int sync() override {
        note();
        return std::stringbuf::sync();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        note();
        return std::stringbuf::xsputn(s, n);
    }
    int_type overflow(int_type c) override {
        note();
        return std::stringbuf::overflow(c);
    }

  private:
    void note() {
        if (std::this_thread::get_id() != owner) foreign = true;
    }
    std::thread::id owner = std::this_thread::get_id();
};

// The input tied to the output, as std::cin is to std::cout: reading must not flush the
// output from the reader thread while the loop writes to it (replies came out twice).
TEST(Serve, InputTiedToTheOutputIsWrittenByOneThread) {
    constexpr int requests = 50;
    std::string input =
        framed(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"capabilities":{}}})");
    for (int id = 1; id <= requests; ++id) {
        input +=
            framed(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"zv/nothing"})");
    }
    input += framed(R"({"jsonrpc":"2.0","id":9999,"method":"shutdown"})");
    input += framed(R"({"jsonrpc":"2.0","method":"exit"})");
    std::istringstream in(input);
    ownedbuf buffer;
    std::ostream out(&buffer);
    std::ostringstream log;
    in.tie(&out);
    EXPECT_EQ(zvlsp::serve(in, out, log), 0);
    EXPECT_FALSE(buffer.foreign);
    EXPECT_EQ(in.tie(), &out); // tied again afterwards
    // Every reply once, whole, in order.
    std::istringstream replies(buffer.str());
    zvlsp::framereader reader(replies);
    int expected = 0;
    for (zvlsp::frame f = reader.next(); f.what != zvlsp::frame::kind::end; f = reader.next()) {
        ASSERT_EQ(f.what, zvlsp::frame::kind::message) << f.problem;
        const auto reply = nlohmann::json::parse(f.body);
        EXPECT_EQ(reply["id"], expected == requests + 1 ? 9999 : expected);
        ++expected;
    }
    EXPECT_EQ(expected, requests + 2);
}

TEST(Serve, UnreadableFrameIsReportedAndAnswered) {
    std::istringstream in("Content-Length: x\r\n\r\n{}" +
                          framed(R"({"jsonrpc":"2.0","method":"exit"})"));
    std::ostringstream out, log;
    EXPECT_EQ(zvlsp::serve(in, out, log), 1);
    EXPECT_NE(log.str().find("Content-Length is not a number"), std::string::npos);
    EXPECT_NE(out.str().find(R"("code":-32700)"), std::string::npos);
}

} // namespace
