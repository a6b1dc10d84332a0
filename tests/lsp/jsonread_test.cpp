// The fast reader of message bodies against the general JSON reader: on every text the fast
// one takes, the value is the general one's, to the type of each number; the texts it gives
// up on include every kind it leaves to the general reader. Messages of the protocol, then
// each of them cut short and with one byte changed at every place.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "jsonread.h"

namespace {

using nlohmann::json;
using zvlsp::readjsonfast;

// Whether `a` and `b` are alike, the types of their numbers (signed, unsigned) too.
bool alike(const json& a, const json& b) {
    if (a.type() != b.type()) return false;
    if (a.is_object()) {
        if (a.size() != b.size()) return false;
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
            if (i.key() != j.key() || !alike(i.value(), j.value())) return false;
        }
        return true;
    }
    if (a.is_array()) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!alike(a[i], b[i])) return false;
        }
        return true;
    }
    return a == b;
}

// Checks one text; returns whether the fast reader took it.
bool check(const std::string& text) {
    json fast;
    const bool took = readjsonfast(text, fast);
    const json general = json::parse(text, nullptr, false);
    if (took) {
        EXPECT_FALSE(general.is_discarded()) << text;
        EXPECT_TRUE(alike(fast, general))
            << text << "\nfast: " << fast.dump() << "\ngeneral: " << general.dump();
    }
    return took;
}

const std::vector<std::string> messages = {
    R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"processId":null,)"
    R"("capabilities":{"general":{"positionEncodings":["utf-8","utf-16"]}}}})",
    R"({"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": )"
    R"({"uri": "file:///a.zv", "languageId": "zv", "version": 1, "text": "x = 1\n)"
    R"(s = \"caf\u00e9 \ud83d\ude00\"\r\n\t\\ \/ \b\f"}}})",
    "{\"id\":-7,\"method\":\"m\",\"params\":{\"text\":\"raw "
    "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"}}",
    R"({"id":"abc","method":"textDocument/hover","params":{"position":{"line":0,"character":18446744073709551615}}})",
    R"( [ true , false , null , [] , {} , -0 , 0 , "" ] )",
    R"({"id":9223372036854775807,"other":-9223372036854775808})",
};

TEST(JsonRead, TakesTheProtocolsMessagesAsTheGeneralReader) {
    for (const std::string& text : messages) EXPECT_TRUE(check(text)) << text;
}

// What the fast reader leaves to the general one: floats, numbers past 64 bits, duplicated
// keys, lone surrogates, a byte-order mark, bad UTF-8, control characters, deep nesting,
// and text that is no JSON.
TEST(JsonRead, LeavesTheRestToTheGeneralReader) {
    const std::vector<std::string> left = {
        "1.5",
        "1e3",
        "18446744073709551616",
        "-9223372036854775809",
        R"({"a":1,"a":2})",
        R"("\udc00")",
        R"("\ud800x")",
        "\xEF\xBB\xBF{}",
        "\"\xC3\"",
        "\"\xED\xA0\x80\"",
        "\"a\tb\"",
        "",
        "{",
        "01",
        "[1,]",
        "tru",
        "{} x",
    };
    for (const std::string& text : left) EXPECT_FALSE(check(text)) << text;
    // Nesting at the limit is taken; one deeper is left.
    for (const int depth : {zvlsp::fastjsondepth, zvlsp::fastjsondepth + 1}) {
        std::string deep(static_cast<std::size_t>(depth), '[');
        deep += std::string(static_cast<std::size_t>(depth), ']');
        EXPECT_EQ(check(deep), depth == zvlsp::fastjsondepth);
    }
}

TEST(JsonRead, CutAndChangedMessagesReadAsTheGeneralReader) {
    const std::string bytes = std::string("\"\\{}[]:,0-9eu\x80\xC3\xFF \n") + '\0';
    for (const std::string& text : messages) {
        for (std::size_t cut = 0; cut < text.size(); ++cut) check(text.substr(0, cut));
        for (std::size_t at = 0; at < text.size(); ++at) {
            for (const char b : bytes) {
                std::string changed = text;
                changed[at] = b;
                check(changed);
            }
        }
    }
}

// Strings are read sixteen bytes at a time where the processor allows: a byte that ends a
// plain run (an escape, a quote, a control byte, a character past ASCII, a byte that is no
// UTF-8) at every place of strings around that width, each read as the general reader
// reads it or given up on.
TEST(JsonRead, SpecialBytesAtEveryPlaceOfAString) {
    const std::string specials[] = {"\\n",      "\\\"",         "\\u00e9",          "\x01",
                                    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF",
                                    "\xC3"};
    int taken = 0, refused = 0;
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::size_t place = 0; place <= length; ++place) {
            for (const std::string& special : specials) {
                std::string text(length, 'a');
                text.insert(place, special);
                (check("{\"text\":\"" + text + "\"}") ? taken : refused) += 1;
            }
        }
    }
    // The plain and escaped ones are taken; a control byte and broken UTF-8 are not.
    EXPECT_GT(taken, 41 * 21 * 5);
    EXPECT_GT(refused, 41 * 21 * 2);
}

} // namespace
