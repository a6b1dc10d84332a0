// The renderers' promises (fuzz/rendercheck.h) on the render fuzz corpus and on a few
// hundred generated programs that mix statements, brackets, included files and bytes that
// are not UTF-8, so that the checks the fuzz targets make also run with every test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "rendercheck.h"
#include "support.h"

namespace {

TEST(render, FuzzCorpusKeepsThePromises) {
    std::size_t seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(ZV_RENDER_CORPUS)) {
        SCOPED_TRACE(e.path().filename().string());
        const auto broken = rendercheck::checkall(zvtest::slurp(e.path()));
        EXPECT_FALSE(broken) << *broken;
        ++seen;
    }
    EXPECT_GE(seen, 10u);
}

// Pieces of programs, valid and broken, with stray bytes among them.
const std::vector<std::string> pieces = {
    "x = 1",
    "y = [1, 2.55]",
    "z = (a + b)*c",
    "def f(a) {",
    "}",
    "if x {",
    "return 1",
    "also inc",
    "not(x)",
    "G1 = 2",
    "q = a+-b",
    "s = \"\xC3\"",
    "\xC0\x80",
    "\xE0\x80\x80",
    "\xED\xA0\x80",
    "\xF5\xFF",
    "\xE2\x82",
    "\t",
    "\r",
    "((((",
    "]]",
    "w = {a: 1,}",
    "x = \"a\"\"b\"",
    "class C {",
    "f(1,,2)",
    " ",
    "=",
    "\xF0\x9F\x98\x80",
};

std::string generated(std::mt19937& random) {
    std::string text;
    const int count = std::uniform_int_distribution<int>(1, 12)(random);
    for (int i = 0; i < count; ++i) {
        text += pieces[random() % pieces.size()];
        text += random() % 3 ? "\n" : " ";
    }
    return text;
}

TEST(render, GeneratedProgramsKeepThePromises) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 400; ++i) {
        std::string input = generated(random);
        if (random() % 2) input += std::string(rendercheck::separator) + generated(random);
        const auto broken = rendercheck::checkall(input);
        EXPECT_FALSE(broken) << *broken << "\ninput: " << input;
    }
}

} // namespace
