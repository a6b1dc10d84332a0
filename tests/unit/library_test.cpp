// Tests of the library face `zv::compile`: where each kind of report is located (line,
// column in characters, end, byte offsets in the file as stored, the chain of `also`
// statements), that text made by resolving escapes is located at the text it came from,
// the warnings and their switches, and that compilations on several threads at once get
// exactly what each gets alone.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "zv.hpp"

namespace {

// Included files from memory.
zv::options withfiles(std::map<std::string, std::string> files) {
    zv::options o;
    o.name = "prog.zv";
    o.readinclude = [files](const std::string& path) -> std::optional<std::string> {
        const auto found = files.find(path);
        if (found == files.end()) return std::nullopt;
        return found->second;
    };
    return o;
}

// "file:line:column-endline:endcolumn@offset-endoffset code: message"
std::string describe(const zv::diagnostic& d) {
    const zv::location& w = d.where;
    return w.file + ":" + std::to_string(w.line) + ":" + std::to_string(w.column) + "-" +
           std::to_string(w.endline) + ":" + std::to_string(w.endcolumn) + "@" +
           std::to_string(w.offset) + "-" + std::to_string(w.endoffset) + " " + d.code + ": " +
           d.message;
}

TEST(library, errorsarelocated) {
    struct row {
        const char* what;
        std::string program;
        std::string expected; // the last diagnostic
    } rows[] = {
        {"first line", "x = a+\n",
         "prog.zv:1:6-1:7@5-6 operator-without-operand: handleexpr: "
         "operator without operand: '+'"},
        {"last line without a line end", "a\nb\nc = (d\n",
         "prog.zv:3:5-3:6@8-9 unclosed: this '(' is never closed"},
        {"after CR LF lines: offsets count the CRs", "a = 1\r\nb = 2\r\nc = d+\r\n",
         "prog.zv:3:6-3:7@19-20 operator-without-operand: handleexpr: operator without operand: "
         "'+'"},
        {"after a tab", "\tx = 1+\n",
         "prog.zv:1:7-1:8@6-7 operator-without-operand: handleexpr: operator without operand: '+'"},
        {"UTF-8 counts one column per character", "s = \"\xc3\xa9\xe2\x82\xac\"+1+\n",
         "prog.zv:1:11-1:12@13-14 operator-without-operand: handleexpr: operator without operand: "
         "'+'"},
        {"a byte that begins no sequence counts one", "s = \xff\xfe+1+\n",
         "prog.zv:1:9-1:10@8-9 operator-without-operand: handleexpr: operator without operand: "
         "'+'"},
        {"inside a multi-line block", "if a {\n  b = 1\n  c = [1]x\n}\n",
         "prog.zv:3:7-3:11@21-25 malformed-list: handleget: malformed list: '[1]x'"},
        {"the word a statement has too many of", "x = a + b\n",
         "prog.zv:1:3-1:4@2-3 extra-words: Unexpected words after statement: '='"},
        // The expression was scanned once for its parentheses, which resolved the escape:
        // what is cut from that copy stands at the expression.
        {"escapes resolved: at the text they came from", "x = f(\"a\\n\"+)\n",
         "prog.zv:1:5-1:14@4-13 operator-without-operand: handleexpr: operator without operand: "
         "'+'"},
        {"unclosed brace at its opener", "a\nif b {\n  c\n",
         "prog.zv:2:6-2:7@7-8 unclosed: this '{' is never closed"},
        {"stray brace inside brackets", "x = [1, }]\n",
         "prog.zv:1:9-1:10@8-9 stray-brace: this '}' closes no '{'"},
        {"stray parenthesis inside brackets", "x = [)\n",
         "prog.zv:1:6-1:7@5-6 stray-parenthesis: this ')' closes no '('"},
        {"missing include at the also statement", "a\nalso nothere\n",
         "prog.zv:2:1-2:13@2-14 cannot-open: Could not open file with name: nothere.ZVEX"},
        {"error without quoted text at the construct", "class C {\n  x = 1\n}\n",
         "prog.zv:2:3-2:8@12-17 class-body: Only def allowed in class definition!"},
    };
    for (const row& r : rows) {
        const zv::result result = zv::compile(r.program, withfiles({}));
        ASSERT_FALSE(result.diagnostics.empty()) << r.what;
        const zv::diagnostic& d = result.diagnostics.back();
        EXPECT_TRUE(d.located) << r.what;
        EXPECT_EQ(describe(d), r.expected) << r.what;
    }
}

TEST(library, includechainandstraybrackets) {
    const zv::options o = withfiles({{"one.ZVEX", "a\nalso two\n"}, {"two.ZVEX", "b\nc = d+\n"}});
    const zv::result r = zv::compile("x\nalso one\n", o);
    ASSERT_EQ(r.status, 1);
    const zv::diagnostic& d = r.diagnostics.back();
    EXPECT_EQ(describe(d),
              "two.ZVEX:2:6-2:7@7-8 operator-without-operand: handleexpr: operator without "
              "operand: '+'");
    ASSERT_EQ(d.includedfrom.size(), 2u);
    EXPECT_EQ(d.includedfrom[0].file + ":" + std::to_string(d.includedfrom[0].line), "one.ZVEX:2");
    EXPECT_EQ(d.includedfrom[1].file + ":" + std::to_string(d.includedfrom[1].line), "prog.zv:2");
    EXPECT_EQ(r.included, (std::vector<std::string>{"one.ZVEX", "two.ZVEX"}));

    // A stray "]" three blocks deep is met once per split of the texts that hold it (the
    // block it ends early is split no further): zvc prints it that often, the diagnostics
    // hold it once.
    const zv::result stray = zv::compile("if a {\n if b {\n  if c {\n   ]\n  }\n }\n}\n");
    EXPECT_EQ(stray.status, 0);
    EXPECT_EQ(stray.parsermessages.size(), 3u);
    ASSERT_EQ(stray.diagnostics.size(), 1u);
    EXPECT_EQ(describe(stray.diagnostics[0]),
              "<input>:4:4-4:5@27-28 stray-bracket: this ']' closes no '['");
}

TEST(library, warningsandtheirswitches) {
    struct row {
        std::string program;
        std::string code; // the one warning expected, "" for none
    } rows[] = {
        {"f(a b)\n", "name-punctuation"},
        {"if a=1 {\n}\n", "name-punctuation"},
        {"}\n", "name-punctuation"},
        {"x = 3abc\n", "name-digit"},
        {"f(1,)\n", "empty-element"},
        {"x = [1,,2]\n", "empty-element"},
        {"x = 3.14\n", "decimal-digits"},
        {"f(\"a\" \"b\")\n", "adjacent-strings"},
        {"class Game {\n}\n", "global-definition"},
        {"def Gf() {\n}\n", "global-definition"},
        {"x = not(y)\n", "not-call"},
        // Correct programs stay silent.
        {"x = 3.5\n", ""},
        {"f(1, 2)\n", ""},
        {"x = (not y)\n", ""},
        {"s = \"a\\nb\"\n", ""},
        {"Gx = 1\n", ""},
        {"class C {\n def Go() {\n }\n}\n", ""},
        {"x = [1, [2, 3]]\n", ""},
        {"x = -1.5\n", ""},
    };
    for (const row& r : rows) {
        zv::options o;
        o.warn = true;
        const zv::result result = zv::compile(r.program, o);
        EXPECT_EQ(result.status, 0) << r.program;
        if (r.code.empty()) {
            EXPECT_TRUE(result.diagnostics.empty()) << r.program << describe(result.diagnostics[0]);
            continue;
        }
        ASSERT_EQ(result.diagnostics.size(), 1u) << r.program;
        EXPECT_EQ(result.diagnostics[0].code, r.code) << r.program;
        EXPECT_EQ(result.diagnostics[0].level, zv::severity::warning) << r.program;
        // Switched off by naming only another, and off unless asked for.
        o.enabled = {r.code == "name-digit" ? "not-call" : "name-digit"};
        EXPECT_TRUE(zv::compile(r.program, o).diagnostics.empty()) << r.program;
        EXPECT_TRUE(zv::compile(r.program).diagnostics.empty()) << r.program;
        // The byte code does not depend on looking for warnings.
        EXPECT_EQ(zv::compile(r.program).code, result.code) << r.program;
    }
}

TEST(library, threadscompileapart) {
    const std::vector<std::string> programs = {
        "x = a+1\nif x {\n  print(\"hi\")\n}\n",
        "class P {\n def @init(a) {\n  @a = a\n }\n}\nalso lib\n",
        "l = [1, [2, {\"k\": f(3, 4.5)}], g(h(i(j)))]\n",
        "x = a+\n",
        "if a {\n x = [}\n}\n",
        "def f(a, b) {\n return a*b\n}\nwhile f(1, 2) < 3 {\n  y = y+1\n}\n",
    };
    const zv::options o = [] {
        zv::options with = withfiles({{"lib.ZVEX", "z = \"lib\\n\"\nq = 1.25\n"}});
        with.description = true;
        with.warn = true;
        return with;
    }();
    std::vector<zv::result> alone;
    for (const std::string& p : programs) alone.push_back(zv::compile(p, o));
    const auto same = [](const zv::result& a, const zv::result& b) {
        if (a.status != b.status || a.code != b.code || a.description != b.description ||
            a.message != b.message || a.diagnostics.size() != b.diagnostics.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.diagnostics.size(); ++i) {
            if (describe(a.diagnostics[i]) != describe(b.diagnostics[i])) return false;
        }
        return true;
    };
    std::vector<std::thread> threads;
    std::vector<int> mismatches(programs.size(), 0);
    for (std::size_t t = 0; t < programs.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                if (!same(zv::compile(programs[t], o), alone[t])) ++mismatches[t];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (std::size_t t = 0; t < programs.size(); ++t) {
        EXPECT_EQ(mismatches[t], 0) << programs[t];
    }
}

} // namespace
