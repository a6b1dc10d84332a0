// The one UTF-8 step every tool counts characters with: well-formed sequences of each
// length, and every way a sequence can be ill-formed, each of whose bytes must count as
// one character of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utf8.h"

namespace {

struct stepcase {
    const char* what;
    std::string text;
    std::vector<std::size_t> steps; // the lengths stepped over, from the start to the end
    std::size_t utf16;              // UTF-16 code units
};

const std::vector<stepcase> stepcases = {
    {"ascii", "ab", {1, 1}, 2},
    {"two-byte", "\xC3\xA9", {2}, 1},
    {"three-byte", "\xE2\x82\xAC", {3}, 1},
    {"four-byte", "\xF0\x9F\x98\x80", {4}, 2},
    {"lowest two-byte U+0080", "\xC2\x80", {2}, 1},
    {"lowest three-byte U+0800", "\xE0\xA0\x80", {3}, 1},
    {"lowest four-byte U+10000", "\xF0\x90\x80\x80", {4}, 2},
    {"highest U+10FFFF", "\xF4\x8F\xBF\xBF", {4}, 2},
    {"last before surrogates U+D7FF", "\xED\x9F\xBF", {3}, 1},
    {"first after surrogates U+E000", "\xEE\x80\x80", {3}, 1},
    {"U+FFFF", "\xEF\xBF\xBF", {3}, 1},
    // Overlong forms.
    {"overlong C0 80", "\xC0\x80", {1, 1}, 2},
    {"overlong C1 BF", "\xC1\xBF", {1, 1}, 2},
    {"overlong E0 80 80", "\xE0\x80\x80", {1, 1, 1}, 3},
    {"overlong E0 9F BF", "\xE0\x9F\xBF", {1, 1, 1}, 3},
    {"overlong F0 80 80 80", "\xF0\x80\x80\x80", {1, 1, 1, 1}, 4},
    {"overlong F0 8F BF BF", "\xF0\x8F\xBF\xBF", {1, 1, 1, 1}, 4},
    // Surrogates and values past U+10FFFF.
    {"surrogate U+D800", "\xED\xA0\x80", {1, 1, 1}, 3},
    {"surrogate U+DFFF", "\xED\xBF\xBF", {1, 1, 1}, 3},
    {"past U+10FFFF", "\xF4\x90\x80\x80", {1, 1, 1, 1}, 4},
    // Bytes that never start a character.
    {"lone continuation", "\x80", {1}, 1},
    {"continuations", "\x80\xBF\xA0", {1, 1, 1}, 3},
    {"F5", "\xF5\x80\x80\x80", {1, 1, 1, 1}, 4},
    {"F8 FE FF", "\xF8\xFE\xFF", {1, 1, 1}, 3},
    {"C0/C1 controls as bytes", "\xC1\x81", {1, 1}, 2},
    // Sequences cut short: at the end of the text, before a line end, before ASCII.
    {"truncated two-byte at end", "a\xC3", {1, 1}, 2},
    {"truncated three-byte at end", "\xE2\x82", {1, 1}, 2},
    {"truncated four-byte at end", "\xF0\x9F\x98", {1, 1, 1}, 3},
    {"truncated before line end", "\xE2\x82\n", {1, 1, 1}, 3},
    {"lead then ASCII", "\xC3x", {1, 1}, 2},
    {"four-byte lead then three-byte", "\xF0\xE2\x82\xAC", {1, 3}, 2},
    {"valid after invalid", "\xFF\xC3\xA9", {1, 2}, 2},
};

TEST(Utf8, StepsColumnsAndUnits) {
    for (const stepcase& c : stepcases) {
        SCOPED_TRACE(c.what);
        std::vector<std::size_t> steps;
        for (std::size_t at = 0; at < c.text.size(); at += steps.back())
            steps.push_back(utf8::step(c.text, at));
        EXPECT_EQ(steps, c.steps);
        EXPECT_EQ(utf8::columns(c.text), c.steps.size());
        EXPECT_EQ(utf8::utf16units(c.text), c.utf16);
    }
}

TEST(Utf8, CleanReplacesEachStrayByteAndKeepsColumns) {
    for (const stepcase& c : stepcases) {
        SCOPED_TRACE(c.what);
        const std::string clean = utf8::clean(c.text);
        // Clean text is well-formed: every step is a whole character or ASCII.
        for (std::size_t at = 0, n; at < clean.size(); at += n) {
            n = utf8::step(clean, at);
            EXPECT_TRUE(n > 1 || static_cast<unsigned char>(clean[at]) < 0x80) << at;
        }
        EXPECT_EQ(utf8::columns(clean), utf8::columns(c.text));
    }
    EXPECT_EQ(utf8::clean("a\xC0\x80z"), "a\xEF\xBF\xBD\xEF\xBF\xBDz");
    EXPECT_EQ(utf8::clean("\xC3\xA9"), "\xC3\xA9");
}

TEST(Utf8, StepNeverReadsPastTheView) {
    // The view ends inside a sequence that continues in memory after it.
    const std::string whole = "x\xE2\x82\xAC";
    const std::string_view cut(whole.data(), 3);
    EXPECT_EQ(utf8::step(cut, 1), 1u);
    EXPECT_EQ(utf8::columns(cut), 3u);
}

} // namespace
