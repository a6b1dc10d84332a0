// Keeps the user documentation honest. Every fenced example of docs/language.md is
// compiled and must end as its info string says, and every program in examples/ must
// compile with the zvc binary (from a copy of that folder, so that its "also" lines
// resolve) to the same bytes as in-process, and pass zvdis --check when it is built.
//
// Info strings of the guide: "zv" (compiles), "zv error: <message>" (fails with exactly
// that message), "zv status: <n>" (the statement parser exits with n), "zv warns:
// <text>" (compiles, and standard error contains the text), "zv string: <text>" (compiles,
// and the byte code pushes exactly that string), "zv code: <hex bytes>" (compiles to exactly
// those bytes), "zv file: <name>" (not compiled; written as <name> into the working
// directory of the other examples).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler.h"
#include "packer.h"
#include "zv.hpp"

namespace fs = std::filesystem;

namespace {

const fs::path sourcedir = ZV_SOURCE_DIR;

struct snippet {
    int line = 0;       // line of the opening fence
    std::string kind;   // "", "error", "status", "warns", "string", "code", "file" or other
    std::string detail; // the text after "<kind>: "
    std::string text;   // the program, every line ended by a line feed
};

// "25 0E 00" as the compiler's hexadecimal echo writes it: "25 e 0 ".
std::string hexwords(const std::string& text) {
    std::istringstream in(text);
    std::ostringstream out;
    for (std::string word; in >> word;) out << std::hex << std::stoi(word, nullptr, 16) << ' ';
    return out.str();
}

void PrintTo(const snippet& s, std::ostream* os) {
    *os << "line " << s.line;
}

std::vector<snippet> readguide() {
    std::vector<snippet> out;
    std::ifstream in(sourcedir / "docs" / "language.md");
    std::string line;
    snippet* open = nullptr;
    for (int number = 1; std::getline(in, line); ++number) {
        if (open) {
            if (line == "```")
                open = nullptr;
            else
                open->text += line + "\n";
            continue;
        }
        if (line != "```zv" && !line.starts_with("```zv ")) continue;
        snippet& s = out.emplace_back();
        s.line = number;
        std::string info = line.size() > 6 ? line.substr(6) : "";
        std::size_t colon = info.find(": ");
        s.kind = colon == std::string::npos ? info : info.substr(0, colon);
        if (colon != std::string::npos) s.detail = info.substr(colon + 2);
        open = &s;
    }
    if (open) open->kind = "unterminated";
    return out;
}

std::vector<snippet> guideprograms() {
    std::vector<snippet> all = readguide();
    std::erase_if(all, [](const snippet& s) { return s.kind == "file"; });
    return all;
}

std::vector<std::string> exampleprograms() {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(sourcedir / "examples"))
        if (entry.path().extension() == ".zv") out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string readfile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The source text as the driver builds it: every line ended by one line feed.
std::string readsource(const fs::path& path) {
    std::ifstream in(path);
    std::string text, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += line + "\n";
    }
    return text;
}

struct outcome {
    std::string failure; // "" after success, else "error: <message>" or "status: <n>"
    bytelist bytes;
    std::string errors; // what went to standard error
};

outcome compiletext(const std::string& text) {
    outcome o;
    const zv::result r = zv::compile(text);
    if (r.status == 1) {
        o.failure = "error: " + r.message;
    } else if (r.status != 0) {
        o.failure = "status: " + std::to_string(r.status);
    }
    o.bytes = r.code;
    for (const zv::parsermessage& m : r.parsermessages) {
        if (m.tostderr) o.errors += m.text + "\n";
    }
    return o;
}

int run(const fs::path& dir, const std::string& command) {
    int status = std::system(("cd '" + dir.string() + "' && " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A scratch directory per test: guide/ holds the files the guide defines, examples/ a
// copy of the example folder. The source tree is never written.
class scratch : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zvdocs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directory(root / "guide");
        for (const snippet& s : readguide())
            if (s.kind == "file") std::ofstream(root / "guide" / s.detail) << s.text;
        fs::copy(sourcedir / "examples", root / "examples", fs::copy_options::recursive);
        home = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(home);
        fs::remove_all(root);
    }
    fs::path root, home;
};

class guide : public scratch, public testing::WithParamInterface<snippet> {};

TEST_P(guide, ExampleEndsAsItsFenceSays) {
    const snippet& s = GetParam();
    fs::current_path(root / "guide");
    outcome o = compiletext(s.text);
    SCOPED_TRACE("docs/language.md line " + std::to_string(s.line) + ":\n" + s.text);
    if (s.kind == "" || s.kind == "warns" || s.kind == "string" || s.kind == "code") {
        ASSERT_EQ(o.failure, "");
        EXPECT_FALSE(o.bytes.empty()) << "a program that compiles to no byte code";
        if (s.kind == "warns") {
            EXPECT_NE(o.errors.find(s.detail), std::string::npos) << o.errors;
        }
        if (s.kind == "string") {
            bytelist push = {PUSH, TYPE_STRING};
            push.insert(push.end(), s.detail.begin(), s.detail.end());
            push.push_back(0);
            bool pushed = std::search(o.bytes.begin(), o.bytes.end(), push.begin(), push.end()) !=
                          o.bytes.end();
            EXPECT_TRUE(pushed) << "no PUSH of the string '" << s.detail << "'";
        }
        if (s.kind == "code") { EXPECT_EQ(hexecho(o.bytes), hexwords(s.detail)); }
    } else if (s.kind == "error" || s.kind == "status") {
        EXPECT_EQ(o.failure, s.kind + ": " + s.detail);
    } else {
        ADD_FAILURE() << "unknown or unterminated fence: '" << s.kind << "'";
    }
}

INSTANTIATE_TEST_SUITE_P(docs, guide, testing::ValuesIn(guideprograms()),
                         [](const testing::TestParamInfo<snippet>& info) {
                             return "line" + std::to_string(info.param.line);
                         });

TEST(guidefile, HoldsExamplesOfEveryOutcome) {
    std::vector<snippet> all = readguide();
    for (const char* kind : {"", "error", "status", "warns", "string", "code", "file"})
        EXPECT_TRUE(
            std::any_of(all.begin(), all.end(), [&](const snippet& s) { return s.kind == kind; }))
            << "no example of kind '" << kind << "'";
}

class example : public scratch, public testing::WithParamInterface<std::string> {};

TEST_P(example, CompilesWithTheDriverAndChecks) {
    const std::string name = GetParam();
    const std::string stem = fs::path(name).stem().string();
    const fs::path dir = root / "examples";
    ASSERT_EQ(run(dir, std::string("'") + ZVC_PATH + "' " + name + " >zvc.out 2>zvc.err"), 0)
        << readfile(dir / "zvc.err");
    const std::string written = readfile(dir / (stem + ".zvbc"));
    EXPECT_FALSE(written.empty());

    fs::current_path(dir);
    outcome o = compiletext(readsource(dir / name));
    ASSERT_EQ(o.failure, "");
    EXPECT_EQ(written, std::string(o.bytes.begin(), o.bytes.end()))
        << "the byte-code file differs from the compiled code";
#ifdef ZVDIS_PATH
    EXPECT_EQ(run(dir, std::string("'") + ZVDIS_PATH + "' --check " + stem + ".zvbc"), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(docs, example, testing::ValuesIn(exampleprograms()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = fs::path(info.param).stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(examplefolder, HoldsTheDemoThatTheReadmeRuns) {
    EXPECT_TRUE(fs::exists(sourcedir / "examples" / "demo.zv"));
}

} // namespace
