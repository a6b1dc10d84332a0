// The source index and the scans that answer from it. The scans are compared with the
// reference scanners, which read every byte (scannercheck.h), on random programs, on the
// fuzz corpus, on a table of malformed and tricky texts and on texts long enough to need
// many windows; the index's own answers and limits are checked at their edges.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "context.h"
#include "randomprograms.h"
#include "scannercheck.h"
#include "sourceindex.h"

namespace {

class scanindex : public ::testing::Test {
  protected:
    void SetUp() override { resetcompiler(); }
    // Registers `text` as the program, so that the index may answer for it.
    static void usesource(const std::string& text) {
        resetcompiler();
        current().addfile("<input>", text);
    }
    static std::vector<std::size_t> everyplace(std::string_view text) {
        std::vector<std::size_t> out(text.size() + 1);
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = i;
        return out;
    }
};

TEST_F(scanindex, randomprogramsscanlikethereference) {
    programs source(24011);
    for (int i = 0; i < 60; ++i) {
        const std::string text = source.next();
        usesource(text);
        const auto differs =
            scannercheck::compare(text, scannercheck::scanstarts(text, 1500), 1000);
        ASSERT_FALSE(differs) << *differs << "\n" << text;
        const auto nestingdiffers =
            scannercheck::comparenesting(text, scannercheck::scanstarts(text, 12));
        ASSERT_FALSE(nestingdiffers) << *nestingdiffers << "\n" << text;
        const auto splitdiffers = scannercheck::comparesplit(text);
        ASSERT_FALSE(splitdiffers) << *splitdiffers << "\n" << text;
        // The same text outside the sources: the index has nothing to say.
        const std::string copy = text;
        const auto differscopy =
            scannercheck::compare(copy, scannercheck::scanstarts(copy, 200), 200, 16);
        ASSERT_FALSE(differscopy) << *differscopy;
    }
}

TEST_F(scanindex, fuzzcorpusscanslikethereference) {
    int files = 0;
    for (const char* folder : {"compile", "parse"}) {
        const std::filesystem::path dir =
            std::filesystem::path(ZV_SOURCE_DIR) / "fuzz" / "corpus" / folder;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            const std::string text = bytes.str();
            usesource(text);
            const auto differs = scannercheck::compare(text, everyplace(text));
            ASSERT_FALSE(differs) << entry.path() << ": " << *differs;
            const auto nestingdiffers =
                scannercheck::comparenesting(text, scannercheck::scanstarts(text, 200));
            ASSERT_FALSE(nestingdiffers) << entry.path() << ": " << *nestingdiffers;
            const auto splitdiffers = scannercheck::comparesplit(text);
            ASSERT_FALSE(splitdiffers) << entry.path() << ": " << *splitdiffers;
            ++files;
        }
    }
    EXPECT_GT(files, 20);
}

// Texts where a scan that matched brackets naively would go wrong: escapes inside and
// outside groups, quotes holding brackets, brackets of other kinds crossing, stray and
// missing closers, word operators at the edges of blanks.
TEST_F(scanindex, trickytextsscanlikethereference) {
    const std::string texts[] = {
        "x = f(a, \"(\") + b, c)\n",
        "x = \"a(b\" + (c) + \"d)e\"\n",
        "y = ([)] + 1, (]) + [(]), 2\n",
        "z = f(a\\)b, c) + g(\"\\\"\", d)\n",
        "w = {\"k\": (1, 2], \"j\": [3)}\n",
        "v = a and(b) or (c xor d) not e\n",
        "u = x  and  y, x and, and x\n",
        "t = (((a)) + ((b\n",
        "s = ))) + ]]] + }}} , (x)\n",
        "r = \"unclosed ( string\n",
        "q = f(g(h(i(j(k(1)))))) + [1, [2, [3, \"]\"]]]\n",
        "p = a\\\n(b) + \\(c)\n",
        "o = \"\"\"\" + (\"\"\"\") + [\"\" , \"\"]\n",
        "n = a.b(c).d[e](f) , g: h, i}\n",
        "m = {\"a\": {\"b\": (1 + 2)}, \"c\": [3, 4]}\n",
        "\\",
        "(",
        "\"",
        "",
    };
    for (const std::string& text : texts) {
        usesource(text);
        const auto differs = scannercheck::compare(text, everyplace(text));
        EXPECT_FALSE(differs) << *differs;
        const auto nestingdiffers = scannercheck::comparenesting(text, everyplace(text));
        EXPECT_FALSE(nestingdiffers) << *nestingdiffers;
        const auto splitdiffers = scannercheck::comparesplit(text);
        EXPECT_FALSE(splitdiffers) << *splitdiffers;
    }
}

// The statement splitter on malformed and tricky texts, and on texts of random quotes,
// brackets, blanks, tabs and line ends whose special bytes fall on both sides of the
// 64-byte blocks it walks (the last block of a text shorter than 64 bytes as well).
TEST_F(scanindex, splitlikethereference) {
    const std::string texts[] = {
        "x = 1\ny = 2\n",
        "",
        "if a {\n  b = 1\n}\n",
        "x  = 1",
        "a\n   b",
        "print \"a (b\" x",
        "f(\")\")",
        "x = [[1], [2]]",
        "f(])",
        "[}",
        "[)",
        "a}",
        "x = 1\r\n",
        "\t\tx\t=\t'a b' \"c d\"\n",
        "{[}]\n",
        "{(})\n",
        "'\"' \"'\"\n",
        "def f(a) {\n  if a {\n    return [1, {2: 3}]\n  }\n}\nf(1)\n",
    };
    for (const std::string& text : texts) {
        usesource(text);
        const auto differs = scannercheck::comparesplit(text);
        EXPECT_FALSE(differs) << *differs << "\n" << text;
    }
    const std::string pieces[] = {"(", ")", "[",  "]",  "{",  "}",  "\"",
                                  "'", " ", "\t", "\n", "ab", "  x"};
    std::mt19937 random(77);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int length = std::uniform_int_distribution<int>(0, 300)(random);
        while (static_cast<int>(text.size()) < length) {
            // Mostly plain text, so that brackets and quotes nest and close now and then.
            const auto piece = std::uniform_int_distribution<std::size_t>(0, 20)(random);
            text += pieces[std::min<std::size_t>(piece, 12)];
        }
        usesource(text);
        const auto differs = scannercheck::comparesplit(text);
        ASSERT_FALSE(differs) << *differs << "\n" << text;
    }
}

// The nesting check walks blocks of 64 bytes: brackets and quotes on both sides of block
// ends, single quotes (no group to it), an escaped quote that makes every bracket count,
// and a string holding brackets that spans blocks.
TEST_F(scanindex, nestingacrossblockslikethereference) {
    const std::string pieces[] = {"(", ")", "[", "]", "{", "}", "\"", "'", "\\\"", "a", " ", "\n"};
    std::mt19937 random(2024);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int length = std::uniform_int_distribution<int>(1, 400)(random);
        while (static_cast<int>(text.size()) < length) {
            const auto piece = std::uniform_int_distribution<std::size_t>(0, 11)(random);
            // Escaped quotes are rare, so that most texts keep strings apart.
            if (piece == 8 && round % 4 != 0) continue;
            text += pieces[piece];
        }
        std::vector<std::size_t> starts;
        for (std::size_t at = 1; at < text.size() && at < 80; ++at) starts.push_back(at);
        const auto differs = scannercheck::comparenesting(text, starts);
        ASSERT_FALSE(differs) << *differs << "\n" << text;
    }
    // Deep nesting over many blocks: the opener past the limit at N and N + 1 levels.
    std::string deep(300, '(');
    deep += std::string(300, ')');
    for (const std::int64_t limit : {299, 300}) {
        const nesting found = bracketnesting(deep, limit);
        EXPECT_EQ(found.deepest, 300);
        EXPECT_EQ(found.past, limit < 300 ? std::size_t{299} : std::string_view::npos);
    }
}

// A text of many windows: scans that cross window ends, groups that straddle them, a
// group longer than a window records, and the scans going back over earlier windows.
TEST_F(scanindex, longtextsscanlikethereference) {
    programs source(7);
    std::string text;
    while (text.size() < 3 * sourceindex::windowsize) text += source.next();
    text += "x = f(";
    text.append(sourceindex::longestgroup, 'a');
    text += ", 1) + 2\ny = [";
    text.append(sourceindex::windowsize + 10, 'b');
    text += "] and c\n";
    usesource(text);
    std::vector<std::size_t> starts = scannercheck::scanstarts(text, 40000);
    for (std::size_t border = sourceindex::windowsize; border < text.size();
         border += sourceindex::windowsize - sourceindex::windowmargin) {
        for (std::size_t at = border - 64; at < border + 64 && at < text.size(); ++at)
            starts.push_back(at);
    }
    // Backwards as well: each window is made again.
    std::vector<std::size_t> backwards(starts.rbegin(), starts.rbegin() + 2000);
    auto differs = scannercheck::compare(text, starts, 300);
    ASSERT_FALSE(differs) << *differs;
    differs = scannercheck::compare(text, backwards, 300);
    ASSERT_FALSE(differs) << *differs;
    // Scans over several windows, and over the long groups.
    std::vector<std::size_t> few;
    for (std::size_t at = 0; at < text.size(); at += text.size() / 16) few.push_back(at);
    few.push_back(text.find("x = f(") + 4);
    few.push_back(text.find("y = [") + 4);
    differs = scannercheck::compare(text, few, 3 * sourceindex::windowsize);
    ASSERT_FALSE(differs) << *differs;
}

// The index alone: where it finds stop bytes, which groups it knows, and the longest group
// it records (at the limit and one byte past it).
TEST_F(scanindex, indexanswers) {
    struct row {
        std::string text;
        std::size_t from;
        std::size_t stop;  // the next stop byte from `from`
        std::size_t group; // the length of the group opened at `stop`, 0 when unknown
    } rows[] = {
        {"abc(de)f", 1, 3, 4},   {"abc de", 1, 4, 0},  // a letter after a blank
        {"ab1_9\"x\"", 1, 5, 3}, {"(\"(\")", 0, 0, 0}, // a quote holding a bracket
        {"(a\\)b)", 0, 0, 0},                          // an escape in the group
        {"([)]", 0, 0, 0},                             // crossing kinds
        {"[(a)]", 1, 1, 3},                            // inside: still known
        {"x(a]b)", 1, 1, 0},                           // a closer of another kind
        {"{[]}(", 0, 0, 4},      {"(", 0, 0, 0},       // unclosed
        {"abcdef", 2, 6, 0},                           // none: the end
        {"abcdef", 0, 0, 0}, // the window's first letter counts as after a blank
    };
    for (const row& r : rows) {
        usesource(r.text);
        sourceindex& index = current().scanindex;
        const std::string_view text = current().files.back()->text;
        ASSERT_TRUE(index.cover(text, text.data() + r.from)) << r.text;
        const char* stop = index.nextstop(text.data() + r.from, text.data() + text.size());
        EXPECT_EQ(static_cast<std::size_t>(stop - text.data()), r.stop) << r.text;
        if (r.stop < text.size()) { EXPECT_EQ(index.groupend(stop), r.group) << r.text; }
    }
    for (const std::size_t length : {sourceindex::longestgroup, sourceindex::longestgroup + 1}) {
        std::string text = "(";
        text.append(length - 2, 'a');
        text += ")";
        usesource(text);
        sourceindex& index = current().scanindex;
        const std::string_view source = current().files.back()->text;
        ASSERT_TRUE(index.cover(source, source.data()));
        EXPECT_EQ(index.groupend(source.data()), length <= sourceindex::longestgroup ? length : 0);
        const auto differs = scannercheck::compare(text, {0, 1});
        EXPECT_FALSE(differs) << *differs;
    }
}

// Windows made over and over for scans that jump far back and forth stop being made once
// they would cost more than a few passes over the text; the scans read the bytes then.
TEST_F(scanindex, windowsstopwhentheyaremadetoooften) {
    std::string text;
    while (text.size() < 4 * sourceindex::windowsize) text += "a + (b, c) - d\n";
    usesource(text);
    sourceindex& index = current().scanindex;
    const std::string_view source = current().files.back()->text;
    int made = 0;
    bool refused = false;
    for (int i = 0; i < 1000 && !refused; ++i) {
        const char* at = source.data() + (i % 2 == 0 ? 0 : source.size() - 1);
        if (index.holds(at)) continue;
        refused = !index.cover(source, at);
        made += refused ? 0 : 1;
    }
    EXPECT_TRUE(refused);
    // The allowance: four passes over the text and four windows, in windows of at most
    // a window's size each.
    EXPECT_GE(static_cast<std::size_t>(made) * sourceindex::windowsize,
              4 * source.size() + 4 * sourceindex::windowsize);
    const auto differs = scannercheck::compare(text, {0, 100, source.size() - 20}, 64, 16);
    EXPECT_FALSE(differs) << *differs;
}

} // namespace
