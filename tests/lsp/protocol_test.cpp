// The protocol's life cycle and error replies, and position-encoding negotiation.
#include "session.h"

namespace {

using lsptest::json;
using lsptest::session;

struct failing {
    const char* name;
    json message;
    int code;
    json id = 7; // of the error reply
};

TEST(Protocol, RequestsBeforeInitializeAreRefused) {
    session s;
    const json reply = s.call("textDocument/hover", session::at("file:///a.zv", 0, 0));
    EXPECT_EQ(reply["error"]["code"], -32002);
    // Notifications before initialize are dropped without a reply.
    s.open("file:///a.zv", "x = 1\n");
    EXPECT_TRUE(s.sent.empty());
}

TEST(Protocol, ErrorReplies) {
    session s;
    s.initialize();
    s.open("file:///a.zv", "x = 1\n");
    const failing table[] = {
        {"unknown method", {{"jsonrpc", "2.0"}, {"id", 7}, {"method", "zv/nothing"}}, -32601},
        {"hover without position",
         {{"jsonrpc", "2.0"},
          {"id", 7},
          {"method", "textDocument/hover"},
          {"params", {{"textDocument", {{"uri", "file:///a.zv"}}}}}},
         -32602},
        {"position of the wrong type",
         {{"jsonrpc", "2.0"},
          {"id", 7},
          {"method", "textDocument/definition"},
          {"params", {{"textDocument", {{"uri", "file:///a.zv"}}}, {"position", "here"}}}},
         -32602},
        {"document not open",
         {{"jsonrpc", "2.0"},
          {"id", 7},
          {"method", "textDocument/documentSymbol"},
          {"params", {{"textDocument", {{"uri", "file:///b.zv"}}}}}},
         -32602},
        {"initialize twice",
         {{"jsonrpc", "2.0"},
          {"id", 7},
          {"method", "initialize"},
          {"params", {{"capabilities", json::object()}}}},
         -32600},
        {"no method", {{"jsonrpc", "2.0"}, {"id", 7}}, -32600},
        {"not an object", json::array({1, 2}), -32600, nullptr},
        {"id of the wrong type",
         {{"jsonrpc", "2.0"}, {"id", {1}}, {"method", "shutdown"}},
         -32600,
         nullptr},
    };
    for (const failing& f : table) {
        SCOPED_TRACE(f.name);
        s.sent.clear();
        s.lsp.handle(f.message);
        ASSERT_EQ(s.sent.size(), 1u);
        EXPECT_EQ(s.sent[0]["error"]["code"], f.code);
        EXPECT_EQ(s.sent[0]["id"], f.id);
    }
}

TEST(Protocol, MalformedJsonGetsParseErrorWithNullId) {
    session s;
    for (const char* body : {"{", "", "{\"id\":1,", "\xFF"}) {
        s.sent.clear();
        s.lsp.receive(body);
        ASSERT_EQ(s.sent.size(), 1u) << body;
        EXPECT_EQ(s.sent[0]["error"]["code"], -32700);
        EXPECT_TRUE(s.sent[0]["id"].is_null());
    }
}

TEST(Protocol, UnknownNotificationsAndResponsesAreIgnored) {
    session s;
    s.initialize();
    s.notify("$/cancelRequest", {{"id", 3}});
    s.notify("workspace/didChangeConfiguration", {{"settings", nullptr}});
    s.lsp.handle({{"jsonrpc", "2.0"}, {"id", 99}, {"result", nullptr}});
    EXPECT_TRUE(s.sent.empty());
}

TEST(Protocol, ShutdownThenExit) {
    const bool shutdownfirst[] = {true, false};
    for (const bool first : shutdownfirst) {
        session s;
        s.initialize();
        if (first) {
            EXPECT_TRUE(s.result("shutdown").is_null());
            // After shutdown every request but exit is refused.
            EXPECT_EQ(
                s.call("textDocument/hover", session::at("file:///a.zv", 0, 0))["error"]["code"],
                -32600);
        }
        EXPECT_FALSE(s.lsp.exited());
        s.notify("exit");
        EXPECT_TRUE(s.lsp.exited());
        EXPECT_EQ(s.lsp.exitstatus(), first ? 0 : 1);
    }
}

struct negotiation {
    json offered;
    const char* chosen;
};

TEST(Protocol, PositionEncodingNegotiation) {
    const negotiation table[] = {
        {json::object(), "utf-16"},
        {{{"general", {{"positionEncodings", {"utf-16"}}}}}, "utf-16"},
        {{{"general", {{"positionEncodings", {"utf-32", "utf-8", "utf-16"}}}}}, "utf-8"},
        {{{"general", {{"positionEncodings", {"utf-32"}}}}}, "utf-16"},
    };
    for (const negotiation& n : table) {
        session s;
        const json r = s.initialize(n.offered);
        EXPECT_EQ(r["capabilities"]["positionEncoding"], n.chosen) << n.offered.dump();
        EXPECT_EQ(r["capabilities"]["textDocumentSync"]["change"], 2);
        // The encoding is used: a hover after a two-byte character.
        s.open("file:///e.zv", "x = \"\xC3\xA9\"+yy\n");
        const unsigned column = std::string(n.chosen) == "utf-8" ? 9 : 8;
        const json hover = s.result("textDocument/hover", session::at("file:///e.zv", 0, column));
        ASSERT_TRUE(hover.is_object());
        EXPECT_EQ(hover["range"]["start"]["character"], column);
        EXPECT_NE(hover["contents"]["value"].get<std::string>().find("yy"), std::string::npos);
    }
}

} // namespace
