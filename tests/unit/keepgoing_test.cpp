// Keep-going mode of the library. Programs are built from independent lines, some of which
// fail alone; compiled with keepgoing, such a program must report exactly the errors of its
// failing lines (each the error of that line compiled alone, at that line) and compile to
// exactly the code, description map and title nodes of the same program without them: the
// failed statements are taken back whole. The same holds inside function bodies and nested
// blocks, where a failed statement must not hide the rest of the block.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "independentlines.h"
#include "zv.h"
#include "zv.hpp"

namespace {

// The errors of `line` compiled alone, as zvc reports them, as "LINE CODE MESSAGE" (the
// message for compile errors only). A closer that the splitter stops at may leave its
// opener open once it is taken as absent: that opener is reported too, as zvc reports
// the line without the closer.
// Whether `code` is one of the statement splitter's (the others are compile errors).
bool isparsercode(const std::string& code) {
    return code == "unclosed" || code.starts_with("stray-");
}

std::vector<std::string> alone(const std::string& line, std::uint32_t at) {
    const zv::result r = zv::compile(line + "\n");
    EXPECT_NE(r.status, 0) << line;
    const std::string where = std::to_string(at) + " ";
    if (r.status == 1) return {where + r.diagnostics.back().code + " " + r.message};
    if (r.status == 51) return {where + "unclosed "};
    std::vector<std::string> out = {where +
                                    (r.status == 52 ? "stray-brace " : "stray-parenthesis ")};
    const auto& d = r.diagnostics.back();
    std::string without = line;
    without.erase(d.where.offset, 1);
    if (zv::compile(without + "\n").status == 51) out.push_back(where + "unclosed ");
    return out;
}

zv::options keepgoing() {
    zv::options o;
    o.keepgoing = true;
    o.description = true;
    o.origins = true;
    return o;
}

// Titles and structure of the nodes, without their places (lines move when lines go).
std::vector<std::string> nodeshape(const zv::result& r) {
    std::vector<std::string> out;
    for (const zv::titleinfo& n : r.nodes) {
        out.push_back(n.title + "|" + std::to_string(n.parent) + (n.statement ? "|s" : ""));
    }
    return out;
}

TEST(keepgoing, independentlinesgivetheirownerrorsandnothingelse) {
    std::mt19937 random(20);
    for (int trial = 0; trial < 120; ++trial) {
        std::vector<const std::string*> all, valid;
        std::vector<bool> fails;
        const int count = 1 + static_cast<int>(random() % 14);
        for (int i = 0; i < count; ++i) {
            const bool failing = random() % 3 == 0;
            const auto& pool = failing ? failinglines : validlines;
            all.push_back(&pool[random() % pool.size()]);
            fails.push_back(failing);
            if (!failing) valid.push_back(all.back());
        }
        for (const wrapping& w : wrappings) {
            const std::string text = program(w, all);
            SCOPED_TRACE(std::string(w.name) + ":\n" + text);
            const zv::result result = zv::compile(text, keepgoing());
            std::vector<std::string> want, got;
            for (std::size_t i = 0; i < all.size(); ++i) {
                if (!fails[i]) continue;
                for (std::string& e : alone(*all[i], w.firstline + static_cast<std::uint32_t>(i)))
                    want.push_back(std::move(e));
            }
            for (const zv::diagnostic& d : result.diagnostics) {
                if (d.level != zv::severity::error) continue;
                EXPECT_TRUE(d.located);
                got.push_back(std::to_string(d.where.line) + " " + d.code + " " +
                              (isparsercode(d.code) ? std::string() : d.message));
            }
            std::sort(want.begin(), want.end());
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, want);
            if (!want.empty()) { EXPECT_NE(result.status, 0); }
            // What compiled is exactly the program without its failing lines.
            zv::options plain;
            plain.description = true;
            plain.origins = true;
            const zv::result clean = zv::compile(program(w, valid), plain);
            ASSERT_EQ(clean.status, 0);
            EXPECT_EQ(result.code, clean.code);
            EXPECT_EQ(result.description, clean.description);
            EXPECT_EQ(nodeshape(result), nodeshape(clean));
            EXPECT_EQ(result.origins, clean.origins);
        }
    }
}

TEST(keepgoing, poolsarewhattheysay) {
    for (const std::string& line : validlines)
        EXPECT_EQ(zv::compile(line + "\n").status, 0) << line;
    for (const std::string& line : failinglines)
        EXPECT_NE(zv::compile(line + "\n").status, 0) << line;
}

TEST(keepgoing, withoutitthefirsterrorends) {
    const std::string text = "x = 1+\ny = 2\nz = (3\n";
    const zv::result plain = zv::compile(text);
    EXPECT_EQ(plain.status, 51); // the splitter refuses the whole text before compiling
    EXPECT_TRUE(plain.code.empty());
    const zv::result going = zv::compile(text, keepgoing());
    EXPECT_EQ(going.status, 51); // the first error found: the split comes first
    ASSERT_EQ(going.diagnostics.size(), 2u);
    EXPECT_FALSE(going.code.empty());
    EXPECT_EQ(zv::compile("x = 1+\ny = 2\n", keepgoing()).status, 1);
    EXPECT_EQ(zv::compile("x = 1+\ny = 2\n", keepgoing()).message,
              "handleexpr: operator without operand: '+'");
}

TEST(keepgoing, errorsinincludedfilesandtheincludechain) {
    zv::options o = keepgoing();
    o.readinclude = [](const std::string& path) -> std::optional<std::string> {
        if (path == "lib.ZVEX") return std::string("a = 1+\nb = 2\nc = (3\nd = 4\n");
        return std::nullopt;
    };
    const zv::result r = zv::compile("also lib\nx = y+\nalso missing\nz = 1\n", o);
    std::vector<std::string> got;
    for (const zv::diagnostic& d : r.diagnostics) {
        got.push_back(d.where.file + ":" + std::to_string(d.where.line) + " " + d.code + " " +
                      std::to_string(d.includedfrom.size()));
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{
                       "<input>:2 operator-without-operand 0", "<input>:3 cannot-open 0",
                       "lib.ZVEX:1 operator-without-operand 1", "lib.ZVEX:3 unclosed 1"}));
    // The included file's good statements and the program's last one compiled (an `also`
    // statement has no code of its own).
    const zv::result clean = zv::compile("b = 2\nd = 4\nz = 1\n");
    EXPECT_EQ(r.code, clean.code);
}

TEST(keepgoing, classbodiesandopenblocksrollback) {
    // A failed statement in a class body, and one whose failure comes after it opened a
    // block and emitted into it, leave nothing behind.
    const std::string bad =
        "class C {\n  def m() {\n    x = 1+\n    y = 2\n  }\n  z = 3\n}\nw = 4\n";
    const std::string good = "class C {\n  def m() {\n    y = 2\n  }\n}\nw = 4\n";
    const zv::result r = zv::compile(bad, keepgoing());
    const zv::result clean = zv::compile(good, keepgoing());
    ASSERT_EQ(clean.status, 0);
    EXPECT_EQ(r.code, clean.code);
    EXPECT_EQ(r.description, clean.description);
    ASSERT_EQ(r.diagnostics.size(), 2u);
    EXPECT_EQ(r.diagnostics[1].message, "Only def allowed in class definition!");
    // The statement fails inside the body of its block: the block's bytes go with it.
    const zv::result late = zv::compile("while x+ {b = 1}\nd = 2\n", keepgoing());
    const zv::result early = zv::compile("d = 2\n", keepgoing());
    EXPECT_NE(late.status, 0);
    EXPECT_EQ(late.code, early.code);
}

TEST(keepgoing, capiflag) {
    zv_options options{};
    options.flags = ZV_OPTION_KEEP_GOING;
    const std::string text = "x = 1+\ny = 2\nz = 3*\n";
    zv_result* r = zv_compile(text.data(), text.size(), &options);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(zv_result_status(r), 1);
    EXPECT_EQ(zv_result_diagnostic_count(r), 2u);
    zv_result_free(r);
    options.flags = 0;
    r = zv_compile(text.data(), text.size(), &options);
    EXPECT_EQ(zv_result_diagnostic_count(r), 1u);
    zv_result_free(r);
}

} // namespace

namespace {

std::string readexample(const std::string& name) {
    std::ifstream in(std::string(ZV_EXAMPLES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The titles of the statements that compiled, with their lines (a title's text is its
// source, so a statement that compiled is known by it).
std::multiset<std::string> statementsoutside(const zv::result& r, std::uint32_t from,
                                             std::uint32_t to, std::int32_t shift) {
    std::multiset<std::string> out;
    for (const zv::titleinfo& n : r.nodes) {
        if (!n.statement || !n.located || n.where.file != "<input>") continue;
        if (n.where.line >= from && n.where.line <= to) continue;
        const std::int32_t line =
            static_cast<std::int32_t>(n.where.line) - (n.where.line > to ? shift : 0);
        out.insert(std::to_string(line) + " " + n.title);
    }
    return out;
}

// A line typed key by key into the middle of each example (at the top and inside a block):
// at every state, every statement on the other lines compiles as in the untouched file.
TEST(keepgoing, typingalinekeepseveryotherstatement) {
    const std::string typed = "total = clamp(sum([numbers, (1+2)]), \"a b\", 10)";
    zv::options o = keepgoing();
    o.readinclude = [](const std::string& path) -> std::optional<std::string> {
        return readexample(path);
    };
    for (const char* name : {"demo.zv", "shapes.zv", "inventory.zv", "timers.zv"}) {
        const std::string original = readexample(name);
        ASSERT_FALSE(original.empty()) << name;
        const zv::result before = zv::compile(original, o);
        ASSERT_EQ(before.status, 0) << name << ": " << before.message;
        // Insertion points: the start of a line near the middle, and of a line in a block.
        std::vector<std::size_t> points;
        std::size_t middle = original.find('\n', original.size() / 2) + 1;
        points.push_back(middle);
        const std::size_t indented = original.find("\n    ", original.size() / 3);
        if (indented != std::string::npos) points.push_back(indented + 1);
        for (const std::size_t at : points) {
            const auto line = static_cast<std::uint32_t>(
                std::count(original.begin(), original.begin() + at, '\n') + 1);
            const std::multiset<std::string> want = statementsoutside(before, 0, 0, 0);
            for (std::size_t keys = 1; keys <= typed.size(); ++keys) {
                std::string text = original;
                const std::string indent = original.compare(at, 4, "    ") == 0 ? "    " : "";
                text.insert(at, indent + typed.substr(0, keys) + "\n");
                SCOPED_TRACE(std::string(name) + " after " + std::to_string(keys) + " keys:\n" +
                             typed.substr(0, keys));
                const zv::result now = zv::compile(text, o);
                // Statements before the typed line, and after it one line further down.
                std::multiset<std::string> got = statementsoutside(now, line, line, 1);
                std::multiset<std::string> kept;
                for (const std::string& s : want) {
                    // A block that holds the typed line has a new text: compare the others.
                    if (got.count(s) != 0 || s.find('\n') != std::string::npos) kept.insert(s);
                }
                EXPECT_EQ(kept, want);
                std::size_t errors = 0;
                for (const zv::diagnostic& d : now.diagnostics) {
                    if (d.level == zv::severity::error) {
                        ++errors;
                        EXPECT_EQ(d.where.line, line) << d.message;
                    }
                }
                EXPECT_LE(errors, 1u);
            }
        }
    }
}

} // namespace
