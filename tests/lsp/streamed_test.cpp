// Replies sent piece by piece: the semantic tokens of a document whose reply spans several
// pieces, read off the wire of the stdio loop frame by frame (each Content-Length the size of
// its body, the body the reply appended whole), and through the server's senders (streamed,
// as text, as JSON), which must all carry the same message.
#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "serve.h"
#include "server.h"
#include "tokens.h"

namespace {

using namespace zvlsp;
using nlohmann::json;

std::string framed(const std::string& body) {
    std::string out = "Content-Length: ";
    out += std::to_string(body.size());
    out += "\r\n\r\n";
    out += body;
    return out;
}

// Bodies of the frames of `wire`, read strictly: each header exactly as the server writes
// it, each body exactly its Content-Length long, nothing between or after the frames.
std::vector<std::string> frames(const std::string& wire) {
    constexpr std::string_view head = "Content-Length: ";
    std::vector<std::string> out;
    for (std::size_t at = 0; at < wire.size();) {
        if (wire.compare(at, head.size(), head) != 0) {
            ADD_FAILURE() << "no header at byte " << at;
            return out;
        }
        at += head.size();
        std::size_t length = 0;
        const auto [end, err] =
            std::from_chars(wire.data() + at, wire.data() + wire.size(), length);
        at = static_cast<std::size_t>(end - wire.data());
        if (err != std::errc{} || wire.compare(at, 4, "\r\n\r\n") != 0 ||
            at + 4 + length > wire.size()) {
            ADD_FAILURE() << "bad header or short body at byte " << at;
            return out;
        }
        out.push_back(wire.substr(at + 4, length));
        at += 4 + length;
    }
    return out;
}

// A document whose tokens reply is several pieces long: the demo program with multibyte
// strings and names and CR LF line ends, many times over.
std::string largedocument() {
    std::ifstream in(std::string(ZV_EXAMPLES_DIR) + "/demo.zv", std::ios::binary);
    std::stringstream demo;
    demo << in.rdbuf();
    std::string out;
    for (int i = 0; out.size() < 3 * replypiece; ++i) {
        out += demo.str();
        out += "s\xC3\xA9 = \"\xE2\x82\xAC \xF0\x9F\x98\x80\" + G" + std::to_string(i) + "\r\n";
    }
    return out;
}

std::string request(int id, const std::string& method, const json& params) {
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}.dump();
}

std::string notification(const std::string& method, const json& params) {
    return json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump();
}

const std::string uri = "file:///t/large.zv";

// The messages of a session that asks for the tokens of `text` (id 2) and of a document
// never opened (id 3), in an encoding the client offers.
std::vector<std::string> session(const std::string& text, bool utf8) {
    const json capabilities =
        utf8 ? json{{"general", {{"positionEncodings", {"utf-8"}}}}} : json::object();
    return {
        request(1, "initialize", {{"processId", nullptr}, {"capabilities", capabilities}}),
        notification("initialized", json::object()),
        notification("textDocument/didOpen",
                     {{"textDocument",
                       {{"uri", uri}, {"languageId", "zv"}, {"version", 1}, {"text", text}}}}),
        request(2, "textDocument/semanticTokens/full", {{"textDocument", {{"uri", uri}}}}),
        request(3, "textDocument/semanticTokens/full",
                {{"textDocument", {{"uri", "file:///t/never.zv"}}}}),
        request(4, "shutdown", json::object()),
        notification("exit", json::object()),
    };
}

// The tokens reply as it was sent before it was sent in pieces: the reply appended whole
// into its envelope.
std::string wholereply(const std::string& text, encoding enc) {
    const outline tree(text);
    std::string out = R"({"id":2,"jsonrpc":"2.0","result":)";
    appendsemantictokens(out, tree, text, enc);
    out += '}';
    return out;
}

TEST(Streamed, TokensOnTheWireAreWholeFramesOfTheSameReply) {
    const std::string text = largedocument();
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "utf-8" : "utf-16");
        const encoding enc = utf8 ? encoding::utf8 : encoding::utf16;
        std::string input;
        for (const std::string& m : session(text, utf8)) input += framed(m);
        std::istringstream in(input);
        std::ostringstream out, log;
        ASSERT_EQ(serve(in, out, log), 0) << log.str();
        const std::string want = wholereply(text, enc);
        ASSERT_GT(want.size(), 2 * replypiece);
        bool tokens = false, refused = false;
        for (const std::string& body : frames(out.str())) {
            const json message = json::parse(body, nullptr, false);
            ASSERT_FALSE(message.is_discarded()) << body.substr(0, 200);
            if (message.value("id", json()) == 2) {
                tokens = true;
                EXPECT_TRUE(body == want) << "the reply differs from the one appended whole";
                const outline tree(text);
                EXPECT_EQ(message["result"]["data"],
                          json(encodetokens(tokenize(tree, text), text, enc)));
            } else if (message.value("id", json()) == 3) {
                refused = true;
                EXPECT_EQ(message["error"]["code"], invalidparams) << body;
            }
        }
        EXPECT_TRUE(tokens);
        EXPECT_TRUE(refused);
    }
}

// What each kind of server sends for one session: the messages as text, whether they came
// streamed, as text or as JSON.
struct sends {
    std::vector<std::string> messages;
    std::vector<std::size_t> largestpiece; // of each streamed message
};

sends run(const std::string& text, bool text_sender, bool stream_sender) {
    sends out;
    server::textsender astext;
    server::streamsender streamed;
    if (text_sender) astext = [&](std::string_view m) { out.messages.emplace_back(m); };
    if (stream_sender) {
        streamed = [&](std::size_t length, const bodywriter& body) {
            std::string message;
            std::size_t largest = 0;
            body([&](std::string_view piece) {
                EXPECT_FALSE(piece.empty());
                largest = std::max(largest, piece.size());
                message += piece;
            });
            EXPECT_EQ(message.size(), length);
            out.largestpiece.push_back(largest);
            out.messages.push_back(std::move(message));
        };
    }
    server lsp([&](const json& m) { out.messages.push_back(m.dump()); }, astext, streamed);
    for (const std::string& m : session(text, false)) lsp.receive(m);
    return out;
}

TEST(Streamed, EverySenderCarriesTheSameMessages) {
    const std::string text = largedocument();
    const sends streamed = run(text, true, true);
    const sends astext = run(text, true, false);
    const sends asjson = run(text, false, false);
    ASSERT_EQ(streamed.largestpiece.size(), 1u); // the tokens reply only
    EXPECT_EQ(streamed.largestpiece[0], replypiece);
    EXPECT_EQ(streamed.messages, astext.messages);
    ASSERT_EQ(asjson.messages.size(), astext.messages.size());
    for (std::size_t i = 0; i < asjson.messages.size(); ++i) {
        EXPECT_EQ(json::parse(asjson.messages[i]), json::parse(astext.messages[i])) << i;
    }
    const auto reply = std::find(astext.messages.begin(), astext.messages.end(),
                                 wholereply(text, encoding::utf16));
    EXPECT_NE(reply, astext.messages.end());
}

} // namespace
