// End-to-end fault suite: runs the built zvc on hostile inputs and file-system situations,
// each case in a fresh directory, and checks the exit status, the error report, and that
// the directory afterwards holds only what it held before plus, on success, <stem>.zvbc.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "packer.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

using result = zvtest::runresult;
using zvtest::slurp;
using zvtest::spit;

std::string repeat(const std::string& piece, std::size_t n) {
    std::string text;
    text.reserve(piece.size() * n);
    for (std::size_t i = 0; i < n; ++i) text += piece;
    return text;
}

// The byte code of the statement `<name> = 5`.
std::string assignfive(char name) {
    return std::string("\x25\x0e\x00\x00\x00\x00\x05\x25\x0e\x03\x05\x02", 12) + name +
           std::string("\x00\x1c\x02", 3) + name +
           std::string("\x00\x29\x0a\x02set\x00\x09\x00\x00\x00\x00\x01\x06", 15);
}

class endtoend : public ::testing::Test {
  protected:
    zvtest::scratchdir scratch{"zvfaults"};
    fs::path root = scratch.path, cwd = root / "cwd";

    void SetUp() override {
        ASSERT_FALSE(root.empty());
        fs::create_directory(cwd);
    }

    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(cwd)) names.insert(e.path().filename());
        return names;
    }

    // Runs zvc on `source` in `cwd`. Standard output is kept unless `quiet`; a non-zero
    // `filelimit` caps the size of every file the process writes (SIGXFSZ ignored); a run
    // still going after `seconds` is killed.
    result zvc(const std::string& source, bool quiet = false, rlim_t filelimit = 0,
               unsigned seconds = 60) {
        zvtest::process p;
        p.argv = {ZVC_PATH, source};
        p.dir = cwd;
        p.discardout = quiet;
        p.filelimit = filelimit;
        p.seconds = seconds;
        return zvtest::run(p);
    }

    // The byte-code checker's verdict on prog.zvbc, when the checker is built.
    void expectsound() {
#ifdef ZVDIS_PATH
        const std::string command =
            std::string(ZVDIS_PATH) + " --check " + (cwd / "prog.zvbc").string() + " >&2";
        EXPECT_EQ(std::system(command.c_str()), 0) << "prog.zvbc fails the byte-code check";
#endif
    }

    // A successful run: status 0, the warning only, the closing message, and exactly one
    // new entry, the byte-code file, holding `code`.
    void expectcompiled(const result& r, const std::set<std::string>& before,
                        const std::string& code) {
        ASSERT_EQ(r.signal, 0) << r.err;
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "WARNING; desc disabled.\n");
        if (!r.out.empty()) { EXPECT_TRUE(r.out.ends_with("\nfinished writing.\n")) << r.out; }
        auto after = before;
        after.insert("prog.zvbc");
        EXPECT_EQ(entries(), after);
        EXPECT_EQ(slurp(cwd / "prog.zvbc"), code);
        expectsound();
    }

    // A compile error: status 1, exactly the four-line report, the directory unchanged.
    void expectreport(const result& r, const std::set<std::string>& before,
                      const std::string& message) {
        ASSERT_EQ(r.signal, 0) << r.err;
        EXPECT_EQ(r.status, 1) << r.err;
        const std::string head = "COMPILER ERROR\n// ";
        const std::string tail = "\nExperienced error during compilation:\n" + message + "\n";
        ASSERT_TRUE(r.err.starts_with(head) && r.err.ends_with(tail)) << r.err;
        const std::string quip =
            r.err.substr(head.size(), r.err.size() - head.size() - tail.size());
        EXPECT_NE(std::find(errormessages.begin(), errormessages.end(), quip), errormessages.end())
            << quip;
        EXPECT_EQ(entries(), before);
    }
};

// Source texts and the byte code that each must give.
TEST_F(endtoend, SourceShapes) {
    const std::string five = assignfive('x');
    const struct {
        const char* name;
        std::string text, code;
    } cases[] = {
        {"empty file", "", ""},
        {"blank lines only", "\n\n  \n\t\n\n", ""},
        {"final line end", "x = 5\n", five},
        {"no final line end", "x = 5", five},
        {"CR LF line ends", "x = 5\r\ny = 5\r\n", five + assignfive('y')},
        {"CR LF without final line end", "x = 5\r\ny = 5", five + assignfive('y')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        spit(cwd / "prog.zv", c.text);
        fs::remove(cwd / "prog.zvbc");
        const auto before = entries();
        expectcompiled(zvc("prog.zv"), before, c.code);
    }
}

// NUL bytes in strings and names: a string operand ends at its first 0x00, so such text
// either compiles to sound byte code or is refused with the report; never a crash.
TEST_F(endtoend, NulBytes) {
    for (const std::string& text : {std::string("x = \"a\0b\"\n", 10), std::string("\0\n", 2),
                                    std::string("a\0b = 1\n", 9)}) {
        SCOPED_TRACE(text);
        fs::remove(cwd / "prog.zvbc");
        spit(cwd / "prog.zv", text);
        const auto before = entries();
        const result r = zvc("prog.zv");
        ASSERT_EQ(r.signal, 0) << r.err;
        if (r.status == 0) {
            auto after = before;
            after.insert("prog.zvbc");
            EXPECT_EQ(entries(), after);
            expectsound();
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.err.starts_with("COMPILER ERROR\n")) << r.err;
            EXPECT_EQ(entries(), before);
        }
    }
}

// Sources, included files and output targets that cannot be used.
TEST_F(endtoend, FileErrors) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files; // a trailing "/": a folder
        std::string source, message;
    } cases[] = {
        {"missing source", {}, "prog.zv", "Could not open file with name: prog.zv"},
        {"source is a directory",
         {{"prog.zv/", ""}},
         "prog.zv",
         "Could not open file with name: prog.zv"},
        {"output is a directory",
         {{"prog.zv", "x = 5\n"}, {"prog.zvbc/", ""}},
         "prog.zv",
         "Could not open file with name: prog.zvbc"},
        {"missing include",
         {{"prog.zv", "x = 5\nalso lib\n"}},
         "prog.zv",
         "Could not open file with name: lib.ZVEX"},
        {"include is a directory",
         {{"prog.zv", "also lib\n"}, {"lib.ZVEX/", ""}},
         "prog.zv",
         "Could not open file with name: lib.ZVEX"},
        {"file includes itself",
         {{"prog.zv", "also a\n"}, {"a.ZVEX", "x = 5\nalso a\n"}},
         "prog.zv",
         "Inclusion cycle: a.ZVEX"},
        {"cycle through two files",
         {{"prog.zv", "also a\n"}, {"a.ZVEX", "also b\n"}, {"b.ZVEX", "if c {also a}\n"}},
         "prog.zv",
         "Inclusion cycle: a.ZVEX"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(cwd);
        fs::create_directory(cwd);
        for (const auto& [name, text] : c.files)
            if (name.ends_with("/"))
                fs::create_directory(cwd / name);
            else
                spit(cwd / name, text);
        const auto before = entries();
        expectreport(zvc(c.source), before, c.message);
    }
}

// The same file included twice, or through two others, is no cycle.
TEST_F(endtoend, RepeatedIncludesCompile) {
    spit(cwd / "lib.ZVEX", "x = 5\n");
    spit(cwd / "mid.ZVEX", "also lib\n");
    spit(cwd / "prog.zv", "also lib\nalso mid\nalso lib\n");
    const auto before = entries();
    expectcompiled(zvc("prog.zv"), before, repeat(assignfive('x'), 3));
}

// A write that fails part way leaves the older byte code intact and no temporary file.
TEST_F(endtoend, WriteFailureKeepsOlderOutput) {
    spit(cwd / "prog.zv", "x = \"" + std::string(200000, 'a') + "\"\n");
    spit(cwd / "prog.zvbc", "older byte code");
    const auto before = entries();
    expectreport(zvc("prog.zv", true, 65536), before, "Could not write file with name: prog.zvbc");
    EXPECT_EQ(slurp(cwd / "prog.zvbc"), "older byte code");
}

// Each kind of nesting: 1000 levels compile, a million end in a clean, quick error.
TEST_F(endtoend, Nesting) {
    const struct {
        const char* name;
        std::string open, inner, close, before;
    } kinds[] = {
        {"code blocks", "if a {", "", "}", ""},
        {"calls", "f(", "", ")", ""},
        {"lists", "[", "1", "]", "x = "},
        {"dictionaries", "{a: ", "1", "}", "x = "},
        {"parentheses", "(", "1", ")", "x = "},
        // A backslash before a quote does not escape it for the statement splitter.
        {"code blocks behind an escaped quote", "{if a ", "{}", "}", "if \"x\\\" "},
    };
    for (const auto& k : kinds) {
        for (std::size_t depth : {std::size_t{1000}, std::size_t{1000000}}) {
            SCOPED_TRACE(std::string(k.name) + " " + std::to_string(depth));
            fs::remove(cwd / "prog.zvbc");
            spit(cwd / "prog.zv",
                 k.before + repeat(k.open, depth) + k.inner + repeat(k.close, depth) + "\n");
            const auto before = entries();
            const result r = zvc("prog.zv", true, 0, 20);
            if (depth == 1000) {
                ASSERT_EQ(r.signal, 0);
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_GT(fs::file_size(cwd / "prog.zvbc"), depth);
                expectsound();
            } else {
                expectreport(r, before, "Nesting too deep!");
                EXPECT_LT(r.seconds, 10.0);
            }
        }
    }
}

// A 100 MB source of one line, a string literal: compiled whole, or refused cleanly.
TEST_F(endtoend, HugeOneLineSource) {
    const std::size_t size = 100u << 20;
    spit(cwd / "prog.zv", "x = \"" + std::string(size, 'a') + "\"");
    const auto before = entries();
    const result r = zvc("prog.zv", true);
    ASSERT_EQ(r.signal, 0) << r.err;
    if (r.status == 0) {
        EXPECT_EQ(fs::file_size(cwd / "prog.zvbc"), size + 29);
        expectsound();
    } else {
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.starts_with("COMPILER ERROR\n")) << r.err.substr(0, 200);
        EXPECT_EQ(entries(), before);
    }
}

// Random bytes, and random text over the language's characters: every run ends in one of
// the known statuses, never a signal, and leaves byte code only when it succeeds.
TEST_F(endtoend, RandomSources) {
    const std::string alphabet = "abfxG@&%$.,:;=+-*/<>!(){}[]\"'\\ \t\n\r0123456789";
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::string text(4096, '\0');
        for (char& c : text)
            c = seed % 2 ? static_cast<char>(random() & 0xFF)
                         : alphabet[random() % alphabet.size()];
        fs::remove(cwd / "prog.zvbc");
        spit(cwd / "prog.zv", text);
        auto expected = entries();
        const result r = zvc("prog.zv", true);
        ASSERT_EQ(r.signal, 0) << r.err;
        EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 51 || r.status == 52 ||
                    r.status == 54)
            << r.status;
        if (r.status == 0) expected.insert("prog.zvbc");
        EXPECT_EQ(entries(), expected);
        if (r.status == 0) expectsound();
    }
}

// Malformed nesting ends in the parser's own statuses and writes nothing.
TEST_F(endtoend, ParserExits) {
    const struct {
        std::string text;
        int status;
    } cases[] = {{"f(\")\")\n", 51}, {"x = {\n", 51}, {"x = [}\n", 52}, {"x = [)\n", 54}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        spit(cwd / "prog.zv", c.text);
        const auto before = entries();
        const result r = zvc("prog.zv");
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(entries(), before);
    }
}

} // namespace
