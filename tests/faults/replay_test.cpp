// Replays every input that the fuzzers ever found a fault with (fuzz/regressions/): each
// file is compiled in-process with all the compile invariants checked, split by the
// statement parser, and read by the byte-code verifier; none of it may crash or break an
// invariant.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bytecodereader.h"
#include "compilecheck.h"
#include "parser.h"
#include "zv.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> regressions() {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(ZV_REGRESSIONS_DIR))
        if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(regressions, ReplayWithoutFault) {
    const auto files = regressions();
    if (files.empty()) GTEST_SKIP() << "no kept fault inputs in " << ZV_REGRESSIONS_DIR;
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const std::string text = slurp(file);
        EXPECT_EQ(zvcheck::checkcompile(text), std::nullopt);
        try {
            EXPECT_FALSE(parse(text, 0).empty());
        } catch (const parserexit& e) {
            EXPECT_TRUE(e.status == 51 || e.status == 52 || e.status == 54) << e.status;
        }
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        if (auto fault = verifybytecode(bytes)) { EXPECT_LT(fault->offset, bytes.size()); }
    }
}

} // namespace

namespace {

std::vector<fs::path> compileinputs() {
    std::vector<fs::path> files = regressions();
    for (const char* dir : {"compile", "parse"}) {
        const fs::path corpus = fs::path(ZV_CORPUS_DIR) / dir;
        if (!fs::exists(corpus)) continue;
        for (const auto& e : fs::recursive_directory_iterator(corpus))
            if (e.is_regular_file()) files.push_back(e.path());
    }
    return files;
}

// Keep-going compiles of hostile text: whatever failed is taken back, so the code left is
// sound byte code; with no error, it is the code of the plain compile.
TEST(regressions, KeepGoingLeavesSoundCode) {
    for (const auto& file : compileinputs()) {
        SCOPED_TRACE(file.string());
        const std::string text = slurp(file);
        zv::options going;
        going.keepgoing = true;
        going.origins = true;
        const zv::result r = zv::compile(text, going);
        if (auto fault = verifybytecode(r.code)) {
            ADD_FAILURE() << "unsound code at " << fault->offset << ": " << fault->what;
        }
        EXPECT_EQ(r.origins.size(), r.code.size());
        const bool failed =
            std::any_of(r.diagnostics.begin(), r.diagnostics.end(),
                        [](const auto& d) { return d.level == zv::severity::error; });
        if (!failed) {
            zv::options plain;
            const zv::result p = zv::compile(text, plain);
            EXPECT_EQ(p.status, 0);
            EXPECT_EQ(p.code, r.code);
        }
    }
}

} // namespace

namespace {

// The example programs with brackets and quotes put in and taken out at random, as a file
// being typed has them: every keep-going compile leaves sound code and reports each error
// at a place in the text.
TEST(regressions, KeepGoingOnBrokenExamples) {
    std::vector<std::string> programs;
    for (const auto& e : fs::directory_iterator(ZV_EXAMPLES_DIR))
        if (e.path().extension() == ".zv") programs.push_back(slurp(e.path()));
    ASSERT_FALSE(programs.empty());
    std::mt19937 random(2026);
    const std::string marks = "()[]{}\"'";
    for (int trial = 0; trial < 400; ++trial) {
        std::string text = programs[random() % programs.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < edits && !text.empty(); ++i) {
            const std::size_t at = random() % text.size();
            if (random() % 2 == 0) {
                text.insert(text.begin() + static_cast<std::ptrdiff_t>(at),
                            marks[random() % marks.size()]);
            } else {
                const std::size_t mark = text.find_first_of(marks, at);
                if (mark != std::string::npos) text.erase(mark, 1);
            }
        }
        SCOPED_TRACE(text);
        zv::options going;
        going.keepgoing = true;
        const zv::result r = zv::compile(text, going);
        if (auto fault = verifybytecode(r.code)) {
            ADD_FAILURE() << "unsound code at " << fault->offset << ": " << fault->what;
        }
        for (const zv::diagnostic& d : r.diagnostics) {
            if (d.level != zv::severity::error || d.code == "description-too-large") continue;
            EXPECT_TRUE(d.located) << d.message;
            EXPECT_LE(d.where.endoffset, text.size() + 1) << d.message;
        }
    }
}

} // namespace
