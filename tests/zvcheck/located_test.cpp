// Errors found before compiling are located like any other: "Nesting too deep!" points at
// the opener where the depth passed the limit, in the program and in included files, in
// the text form (with a caret under it) and in JSON. Each kind of bracket at the limit and
// one past it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "runzv.h"

namespace zvtest {

namespace {

constexpr int limit = 2000; // the compiler's maxnesting

// The levels a file's text may use: the "also" statement that includes a file takes one.
int levels(bool included) {
    return included ? limit - 1 : limit;
}

struct nestcase {
    char open, close;
    bool included; // the deep line is in lib.ZVEX, which prog.zv includes on its line 2
    int depth;
};

// Line 3 of the file: "z = " and `depth` openers, so the opener past the levels left is at
// column 5 + levels.
std::string deepfile(const nestcase& c) {
    return "x = 1\ny = 2\nz = " + std::string(c.depth, c.open) + (c.open == '{' ? "" : "1") +
           std::string(c.depth, c.close) + "\n";
}

TEST(located, NestingTooDeepAtTheOpener) {
    std::vector<nestcase> cases;
    for (const char* pair : {"()", "[]", "{}"})
        for (const bool included : {false, true})
            for (const int extra : {0, 1, 300})
                cases.push_back({pair[0], pair[1], included, levels(included) + extra});
    for (const nestcase& c : cases) {
        SCOPED_TRACE(std::string(1, c.open) + (c.included ? " included " : " ") +
                     std::to_string(c.depth));
        scratchdir dir;
        const std::string file = c.included ? "lib.ZVEX" : "prog.zv";
        spit(dir.path / file, deepfile(c));
        if (c.included) spit(dir.path / "prog.zv", "a = 1\nalso lib\n");
        const runresult text = runzv(dir.path, {{"check", "prog.zv"}});
        const int left = levels(c.included);
        const bool deep = c.depth > left;
        const std::string locus = file + ":3:" + std::to_string(5 + left) + ": error: ";
        EXPECT_EQ(text.out.find(locus + "Nesting too deep!\n") != std::string::npos, deep)
            << text.out.substr(0, 300);
        if (!deep) continue;
        if (c.included) { EXPECT_TRUE(text.out.starts_with("In file included from prog.zv:2:\n")); }
        // The caret stands under the opener: 4 + limit blanks after the gutter.
        EXPECT_NE(text.out.find("\n      | " + std::string(4 + left, ' ') + "^\n"),
                  std::string::npos);
        const runresult json = runzv(dir.path, {{"check", "--format=json", "prog.zv"}});
        const auto doc = nlohmann::json::parse(json.out);
        ASSERT_EQ(doc["diagnostics"].size(), 1u);
        const auto& d = doc["diagnostics"][0];
        EXPECT_EQ(d["file"], file);
        EXPECT_EQ(d["line"], 3);
        EXPECT_EQ(d["column"], 5 + left);
        EXPECT_EQ(d["offset"], 12 + 4 + left);
        EXPECT_EQ(d["endOffset"], 12 + 5 + left);
    }
}

} // namespace

} // namespace zvtest
