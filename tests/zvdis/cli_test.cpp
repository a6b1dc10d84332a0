// The zvdis program as a user runs it: usage and exit statuses, --check, listings of the
// golden programs compared in full, the raw buffer dumps against the description-map
// examples, and the compile errors that --source passes on.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "support.h"

namespace {

namespace fs = std::filesystem;

using outcome = zvtest::runresult;
using zvtest::slurp;

void spill(const fs::path& path, const std::string& text) {
    zvtest::spit(path, text);
}

fs::path scratch() {
    // One folder per process (CTest runs the tests of this file in parallel processes),
    // removed when the process ends.
    static const zvtest::scratchdir dir("zvdis_cli");
    return dir.path;
}

// `path` in single quotes for the shell.
std::string quoted(const fs::path& path) {
    std::string text = "'";
    text += path.string();
    text += '\'';
    return text;
}

// Runs zvdis with `args` (already quoted where needed, split by the shell) in `dir`.
outcome zvdis(const std::string& args, const fs::path& dir = GOLDEN_DIR) {
    zvtest::process p;
    p.argv = {"/bin/sh", "-c", "exec " + quoted(ZVDIS_PATH) + " " + args};
    p.dir = dir;
    return zvtest::run(p);
}

// Writes `text` as a program (or byte-code file) in the scratch folder; returns its path.
std::string file(const std::string& name, const std::string& text) {
    spill(scratch() / name, text);
    return quoted(scratch() / name);
}

std::string usageline(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(Cli, UsageAndExitStatuses) {
    const outcome help = zvdis("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(usageline(help.out).rfind("usage: zvdis", 0), 0u);
    EXPECT_EQ(help.err, "");
    for (const char* args : {"", "-x", "--bogus x", "a b", "--check", "--source a b", "--help x"}) {
        SCOPED_TRACE(args);
        const outcome wrong = zvdis(args);
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.out, "");
        EXPECT_EQ(usageline(wrong.err), usageline(help.out));
    }
}

TEST(Cli, UnreadableByteCodeFile) {
    for (const char* args : {"no-such-file.zvbc", "--check no-such-file.zvbc", "."}) {
        SCOPED_TRACE(args);
        const outcome result = zvdis(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("zvdis: cannot read byte-code file"), std::string::npos);
    }
}

TEST(Cli, CheckIsSilentUnlessFaulty) {
    const outcome sound = zvdis("--check " + file("sound.zvbc", std::string("\x25\x10", 2)));
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(sound.out + sound.err, "");
    const std::string faulty = file("faulty.zvbc", std::string("\x25\x10\xff", 3));
    const outcome checked = zvdis("--check " + faulty);
    EXPECT_EQ(checked.status, 2);
    EXPECT_EQ(checked.out, "");
    EXPECT_EQ(checked.err, "zvdis: offset 2: end mark 0xff where an instruction should stand\n");
    const outcome listed = zvdis(faulty);
    EXPECT_EQ(listed.status, 2);
    EXPECT_EQ(listed.out, "     0  25                           ACCESS\n"
                          "     1  10                           RETURN\n");
    EXPECT_EQ(listed.err, checked.err);
}

std::vector<std::uint8_t> unhex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Every golden program NAME.zv has the plain listing of its byte code in NAME.expected and
// the annotated listing in NAME.source.expected.
TEST(Cli, GoldenListings) {
    int programs = 0;
    for (const auto& entry : fs::directory_iterator(GOLDEN_DIR)) {
        if (entry.path().extension() != ".zv") continue;
        ++programs;
        const std::string name = entry.path().filename().string();
        const fs::path stem = entry.path().parent_path() / entry.path().stem();
        SCOPED_TRACE(name);
        const outcome raw = zvdis("--code-raw " + name);
        ASSERT_EQ(raw.status, 0) << raw.err;
        const auto bytes = unhex(raw.out);
        const outcome listed = zvdis(file("golden.zvbc", std::string(bytes.begin(), bytes.end())));
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(listed.out, slurp(stem.string() + ".expected"));
        const outcome annotated = zvdis("--source " + name);
        EXPECT_EQ(annotated.status, 0) << annotated.err;
        EXPECT_EQ(annotated.out, slurp(stem.string() + ".source.expected"));
    }
    EXPECT_GE(programs, 3);
}

// One description record: the count as an int operand when present, then the title and
// its terminating zero, in the hexadecimal of --desc-raw.
std::string record(std::optional<std::uint32_t> count, const std::string& title) {
    std::string hex;
    char buffer[9];
    if (count) {
        std::snprintf(buffer, sizeof buffer, "%08x", *count);
        hex += buffer;
    }
    for (unsigned char c : title) {
        std::snprintf(buffer, sizeof buffer, "%02x", c);
        hex += buffer;
    }
    return hex + "00";
}

TEST(Cli, DescriptionMapOfASingleName) {
    const std::string program = file("f.zv", "f\n");
    EXPECT_EQ(zvdis("--code-raw " + program).out, "2504026600\n");
    const outcome desc = zvdis("--desc-raw " + program);
    EXPECT_EQ(desc.status, 0);
    EXPECT_EQ(desc.out,
              record({}, "f") + record(0, "f") + record(5, "f") + record(0, "PACK_ROOT") + "\n");
}

TEST(Cli, DescriptionMapOfAnIf) {
    // The body's bytes reach the code only when the block closes: records inside the body
    // count 0, except the first, which counts IF and its type byte; the closing record
    // counts the length operand and the body (and IF's two bytes when no record came
    // between).
    struct ifcase {
        const char* program;
        std::vector<std::pair<std::optional<std::uint32_t>, std::string>> inner;
        std::uint32_t extra;
    };
    const ifcase cases[] = {
        {"if a {b()}\n", {{2, "b()"}, {0, "b()"}, {0, "b()"}, {0, "if a <code>"}}, 0},
        {"if a {return}\n", {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const std::string program = file("if.zv", c.program);
        const auto code = unhex(zvdis("--code-raw " + program).out);
        ASSERT_GT(code.size(), 11u);
        // a's access (5 bytes), IF, TYPE_BLOCK, the length k, then the k body bytes.
        const std::uint32_t k = (code[7] << 24) | (code[8] << 16) | (code[9] << 8) | code[10];
        EXPECT_EQ(code.size(), 11 + k);
        std::string expected = record({}, "if a <code>") + record(0, "a") + record(0, "a") +
                               record(5, "a") + record(0, "if a <code>");
        for (const auto& [count, title] : c.inner) expected += record(count, title);
        expected += record(c.extra + 4 + k, "PACK_ROOT") + "\n";
        EXPECT_EQ(zvdis("--desc-raw " + program).out, expected);
    }
}

TEST(Cli, DescriptionMapTooLargeIsReported) {
    // A dictionary of 20 000 entries repeats its 250 KB title once per entry: a map of
    // gigabytes, which is reported instead of built; the code alone is still listed.
    std::string dict = "d = {";
    for (int i = 0; i < 20000; ++i) dict += (i ? ", \"k" : "\"k") + std::to_string(i) + "\": 1";
    dict += "}\n";
    const std::string program = file("big.zv", dict);
    const outcome desc = zvdis("--desc-raw " + program);
    EXPECT_EQ(desc.status, 1);
    EXPECT_EQ(desc.out, "");
    EXPECT_NE(desc.err.find("Description map too large: "), std::string::npos) << desc.err;
    EXPECT_EQ(zvdis("--code-raw " + program).status, 0);
}

TEST(Cli, CompileErrorsPassThrough) {
    const outcome fatal = zvdis("--source " + file("bad.zv", "def (a) {}\n"));
    EXPECT_EQ(fatal.status, 1);
    EXPECT_EQ(fatal.out, "");
    std::istringstream report(fatal.err);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(report, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << fatal.err;
    EXPECT_EQ(lines[0], "COMPILER ERROR");
    EXPECT_EQ(lines[1].rfind("// ", 0), 0u);
    EXPECT_EQ(lines[2], "Experienced error during compilation:");
    EXPECT_EQ(lines[3], "handleset: name empty!");

    const outcome missing = zvdis("--desc-raw no-such-program.zv");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Could not open file with name: no-such-program.zv"),
              std::string::npos);

    const std::pair<const char*, int> parserfaults[] = {
        {"[}\n", 52}, {"[)\n", 54}, {"x = (\n", 51}};
    for (const auto& [program, status] : parserfaults) {
        SCOPED_TRACE(program);
        EXPECT_EQ(zvdis("--code-raw " + file("nest.zv", program)).status, status);
    }
}

} // namespace
