// Position conversion in both encodings, didChange edits, and file URIs.
#include <gtest/gtest.h>

#include "text.h"
#include "uri.h"

namespace {

using zvlsp::encoding;
using zvlsp::position;

// "é" is 2 bytes and 1 UTF-16 unit, "€" 3 bytes and 1 unit, "😀" 4 bytes and 2 units.
const std::string sample = "a\xC3\xA9"
                           "b\xE2\x82\xAC"
                           "c\xF0\x9F\x98\x80"
                           "d\r\nxy\n";

struct conversion {
    position pos;
    encoding enc;
    std::size_t offset;
};

TEST(Text, PositionsToOffsetsAndBack) {
    const conversion table[] = {
        {{0, 0}, encoding::utf16, 0},  {{0, 1}, encoding::utf16, 1},  {{0, 2}, encoding::utf16, 3},
        {{0, 4}, encoding::utf16, 7},  {{0, 5}, encoding::utf16, 8},  {{0, 7}, encoding::utf16, 12},
        {{0, 8}, encoding::utf16, 13}, {{0, 3}, encoding::utf8, 3},   {{0, 8}, encoding::utf8, 8},
        {{0, 13}, encoding::utf8, 13}, {{1, 0}, encoding::utf16, 15}, {{1, 2}, encoding::utf8, 17},
        {{2, 0}, encoding::utf16, 18},
    };
    for (const conversion& c : table) {
        SCOPED_TRACE(std::to_string(c.pos.line) + ":" + std::to_string(c.pos.character));
        EXPECT_EQ(zvlsp::offsetat(sample, c.pos, c.enc), c.offset);
        EXPECT_EQ(zvlsp::positionat(sample, c.offset, c.enc), c.pos);
    }
}

TEST(Text, OutOfRangePositionsClamp) {
    // Past the line's end: before its CR LF; past the last line: the end of the text.
    EXPECT_EQ(zvlsp::offsetat(sample, {0, 99}, encoding::utf16), 13u);
    EXPECT_EQ(zvlsp::offsetat(sample, {1, 99}, encoding::utf8), 17u);
    EXPECT_EQ(zvlsp::offsetat(sample, {9, 0}, encoding::utf16), sample.size());
    // Inside the surrogate pair of the emoji: after it.
    EXPECT_EQ(zvlsp::offsetat(sample, {0, 6}, encoding::utf16), 12u);
    EXPECT_EQ(zvlsp::positionat(sample, 999, encoding::utf16), (position{2, 0}));
}

TEST(Text, StrayBytesCountOneUnitEach) {
    const std::string bad = "\xFF\xC3x\xF0\x9F";
    EXPECT_EQ(zvlsp::units(bad, encoding::utf16), 5u);
    EXPECT_EQ(zvlsp::offsetat(bad, {0, 2}, encoding::utf16), 2u);
}

struct edit {
    position from, to;
    std::string replacement;
    encoding enc;
    std::string expected;
};

TEST(Text, ReplaceRange) {
    const edit table[] = {
        {{0, 8},
         {0, 8},
         "!",
         encoding::utf16,
         "a\xC3\xA9"
         "b\xE2\x82\xAC"
         "c\xF0\x9F\x98\x80"
         "d!\r\nxy\n"},
        {{0, 1},
         {0, 5},
         "",
         encoding::utf16,
         "a\xF0\x9F\x98\x80"
         "d\r\nxy\n"},
        {{0, 14},
         {1, 1},
         "+",
         encoding::utf8,
         "a\xC3\xA9"
         "b\xE2\x82\xAC"
         "c\xF0\x9F\x98\x80"
         "d+y\n"},
        {{2, 0}, {2, 0}, "z\n", encoding::utf16, sample + "z\n"},
        {{1, 2},
         {0, 0},
         "Q",
         encoding::utf8,
         "a\xC3\xA9"
         "b\xE2\x82\xAC"
         "c\xF0\x9F\x98\x80"
         "d\r\nxyQ\n"},
    };
    for (const edit& e : table) {
        std::string text = sample;
        zvlsp::replacerange(text, e.from, e.to, e.replacement, e.enc);
        EXPECT_EQ(text, e.expected) << e.replacement;
    }
}

TEST(Uri, RoundTripsAndRejects) {
    const std::pair<std::string, std::string> table[] = {
        {"/tmp/a b/c.zv", "file:///tmp/a%20b/c.zv"},
        {"/x/caf\xC3\xA9#1.ZVEX", "file:///x/caf%C3%A9%231.ZVEX"},
    };
    for (const auto& [path, uri] : table) {
        EXPECT_EQ(zvlsp::pathtouri(path), uri);
        EXPECT_EQ(zvlsp::uritopath(uri), path);
    }
    EXPECT_EQ(zvlsp::uritopath("file://localhost/a%2fb"), "/a/b");
    EXPECT_EQ(zvlsp::uritopath("untitled:Untitled-1"), std::nullopt);
    EXPECT_EQ(zvlsp::uritopath("file:///a%2"), std::nullopt);
    EXPECT_EQ(zvlsp::uritopath("file:///a%zz"), std::nullopt);
}

} // namespace
