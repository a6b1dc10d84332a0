// Replays every input that the fuzzers ever found a fault with (fuzz/regressions/): each
// file is compiled in-process with all the compile invariants checked, split by the
// statement parser, and read by the byte-code verifier; none of it may crash or break an
// invariant.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bytecodereader.h"
#include "compilecheck.h"
#include "parser.h"

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
