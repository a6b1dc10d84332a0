// Unit tests of the text-scanning layer: the prefix tests, the forward scanner, the
// operator-run scanner, the argument splitter, the member-path descent, the statement
// parser and the literal tests. Tables hold inputs and the results they must give.
#include <gtest/gtest.h>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "parser.h"
#include "rawapi.h"
#include "unittools.h"

namespace {

class scanners : public ::testing::Test {
  protected:
    void SetUp() override { resetcompiler(); }
};

TEST_F(scanners, isallalpha) {
    for (const char* yes : {"", "and", "xor", "Not", "ABCxyz"}) EXPECT_TRUE(isallalpha(yes)) << yes;
    for (const char* no : {"==", "x1", "a b", "my_name", "\xC3\xA9", "-"})
        EXPECT_FALSE(isallalpha(no)) << no;
}

TEST_F(scanners, checkstrings) {
    struct row {
        const char *x, *y;
        bool result;
    } rows[] = {{"not x", "not", true}, {"nothing", "not", true}, {"ab", "abc", false},
                {"", "", true},         {"abc", "", true},        {"abc", "abd", false},
                {"Abc", "abc", false}};
    for (auto& r : rows) EXPECT_EQ(checkstrings(r.x, r.y), r.result) << r.x << " / " << r.y;
    EXPECT_FALSE(checkstrings("anything", stringlist{}));
    EXPECT_TRUE(checkstrings(">= 1", stringlist{">", ">="}));
    EXPECT_FALSE(checkstrings("< 1", stringlist{">", ">="}));
}

struct scanrow {
    std::string in;
    stringlist entries;
    int mode; // 0 stop list, 1 accept list
    bool words;
    std::string out, rest;
};

TEST_F(scanners, seekstring) {
    const stringlist sfx = {".", "[", "("}, args = {",", ", ", ")"};
    const scanrow rows[] = {{"a + b", operators, 0, true, "a", " + b"},
                            {"a+b", operators, 0, true, "a", "+b"},
                            {"a +b", operators, 0, true, "a ", "+b"},
                            {"a  + b", operators, 0, true, "a ", " + b"},
                            {"a >= b", operators, 0, true, "a", " >= b"},
                            {"f(x + 1) * 2", operators, 0, true, "f(x + 1)", " * 2"},
                            {"x and y", operators, 0, true, "x", " and y"},
                            {"candy or b", operators, 0, true, "candy", " or b"},
                            {"xand y", operators, 0, true, "xand y", ""},
                            {"and x", operators, 0, true, "and x", ""},
                            {"a or", operators, 0, true, "a or", ""},
                            {"-1", operators, 0, true, "", "-1"},
                            {" - 1", operators, 0, true, "", " - 1"},
                            {"(-1)", operators, 0, true, "(-1)", ""},
                            {"\"(\" + x", operators, 0, true, "\"(\" + x", ""},
                            {"\"\\(\" + x", operators, 0, true, "\"(\"", " + x"},
                            {"obj.field[2]", sfx, 0, false, "obj", ".field[2]"},
                            {"f(a.b).c", sfx, 0, false, "f", "(a.b).c"},
                            {"[1, 2].x", sfx, 0, false, "", "[1, 2].x"},
                            {"x[1, 2], y)", args, 0, false, "x[1, 2]", ", y)"},
                            {"\"a, b\", c)", args, 0, false, "\"a, b\"", ", c)"},
                            {"a , b)", args, 0, false, "a ", ", b)"},
                            {"a\\,b, c)", args, 0, false, "a,b", ", c)"},
                            {"(a)) + b", {")"}, 0, false, "(a)", ") + b"},
                            {"a)b", {","}, 0, false, "a)b", ""},
                            {"]a,b", {","}, 0, false, "]a", ",b"},
                            {"key: val", {": ", ":"}, 0, false, "key", ": val"},
                            {"say\\n", {","}, 0, false, "say\n", ""},
                            {"\\r\\t\\\\\\\"", {","}, 0, false, "\rt\\\"", ""},
                            {"ab\\", {","}, 0, false, "ab", ""},
                            {"(\\", {")"}, 0, false, "(", ""},
                            {"+-*a", {"+", "-"}, 1, false, "+-", "*a"},
                            {"a+b", {"+", "-"}, 1, false, "", "a+b"},
                            {"+\\x-", {"+", "-"}, 1, false, "+x-", ""},
                            {"", operators, 0, true, "", ""},
                            {"", {"+"}, 1, false, "", ""}};
    for (auto& r : rows) {
        std::string text = r.in;
        std::string_view view = text;
        EXPECT_EQ(seekstring(view, r.entries, GIM, r.mode, r.words), r.out) << r.in;
        EXPECT_EQ(view, r.rest) << r.in;
    }
}

TEST_F(scanners, reversedseekstring) {
    const std::pair<std::string, std::pair<std::string, std::string>> rows[] = {
        {" + b", {"+", "b"}},
        {"+b", {"+", "b"}},
        {" + (b)", {"+", "(b)"}},
        {"+(b)", {"+", "(b)"}},
        {" +\"x\"", {"+", "\"x\""}},
        {" >= 2", {">=", "2"}},
        {" >== 2", {">=", "= 2"}},
        {" - -b", {"--", "b"}},
        {" ++x", {"++", "x"}},
        {" and b", {"and", "b"}},
        {" + order", {"+or", "der"}},
        {" ) x", {"", ") x"}},
        {"   ", {"", ""}},
        {"", {"", ""}},
        {"+\\(b", {"+(", "b"}},
        {" +\\", {"+", ""}},
        {"===", {"==", "="}}};
    for (auto& [in, expect] : rows) {
        std::string text = in;
        std::string_view view = text;
        EXPECT_EQ(reversedseekstring(view, operators, GIM), expect.first) << in;
        EXPECT_EQ(view, expect.second) << in;
    }
}

// Stop lists are made ready once per list and looked up again by the list's address: the
// entries that share a first byte keep their order (the first one listed wins), a list
// changed in place is made ready again, and an empty entry still fits everywhere.
TEST_F(scanners, stoplistsfollowtheirlists) {
    stringlist longfirst = {">=", ">"};
    stringlist shortfirst = {">", ">="};
    for (int round = 0; round < 2; ++round) {
        std::string_view a = " >= b", b = " >= b";
        EXPECT_EQ(reversedseekstring(a, longfirst, GIM), ">=");
        EXPECT_EQ(reversedseekstring(b, shortfirst, GIM), ">");
        EXPECT_EQ(b, "= b");
    }
    stringlist stops = {","};
    std::string_view text = "a,b;c";
    EXPECT_EQ(seekstring(text, stops, GIM, 0, false), "a");
    stops[0] = ";";
    text = "a,b;c";
    EXPECT_EQ(seekstring(text, stops, GIM, 0, false), "a,b");
    stops.push_back(",");
    text = "a,b;c";
    EXPECT_EQ(seekstring(text, stops, GIM, 0, false), "a");
    const stringlist withempty = {"x", ""};
    text = "abc";
    EXPECT_EQ(seekstring(text, withempty, GIM, 0, false), "");
    // Word entries stop a scan with word checking only between blanks.
    const stringlist words = {"and", "+"};
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"band and c", "band"}, {"a+b", "a"}, {"candy", "candy"}, {"x and", "x and"}}) {
        std::string_view v = in;
        EXPECT_EQ(seekstring(v, words, GIM, 0, true), out) << in;
    }
}

TEST_F(scanners, getargs) {
    struct row {
        std::string in;
        stringlist ends, out;
        std::string rest;
    } rows[] = {{"a, b)", {")"}, {"a", "b"}, ")"},
                {"a,b)", {")"}, {"a", "b"}, ")"},
                {"a , b)", {")"}, {"a ", "b"}, ")"},
                {"a,  b)", {")"}, {"a", " b"}, ")"},
                {")", {")"}, {}, ")"},
                {"a,,b)", {")"}, {"a", "b"}, ")"},
                {"f(1, 2), x)", {")"}, {"f(1, 2)", "x"}, ")"},
                {"1, 2, 3]", {"]"}, {"1", "2", "3"}, "]"},
                {"a;b)", {")"}, {"a;b"}, ")"},
                {"a, b", {}, {"a", "b"}, ""},
                {"[1, 2], \"x)\")rest", {")"}, {"[1, 2]", "\"x)\""}, ")rest"}};
    for (auto& r : rows) {
        std::string text = r.in;
        std::string_view view = text;
        const viewlist got = getargs(view, ",", r.ends);
        EXPECT_EQ(stringlist(got.begin(), got.end()), r.out) << r.in;
        EXPECT_EQ(view, r.rest) << r.in;
    }
    for (std::string bad : {"a, b", "a", "(a)"}) {
        std::string_view view = bad;
        expectfatal([&] { getargs(view, ",", {")"}); },
                    "getargs: no endings, no comma, ends not empty; seekstring failure or "
                    "malformed args.");
    }
}

TEST_F(scanners, gointo) {
    struct row {
        std::string in, bytes, out;
        int levels;
    } rows[] = {{".a", "29", "a", 1},
                {"a", "29", "a", 1},
                {".a.b.c", "29 07 02 \"a\" 00 07 02 \"b\" 00", "c", 3},
                {".a.b(x)[2]", "29 07 02 \"a\" 00", "b(x)[2]", 2},
                {".a(x.y).b", "29 07 02 \"a(x.y)\" 00", "b", 2},
                {".a[1].b", "29 07 02 \"a[1]\" 00", "b", 2},
                {".\"x.y\".z", "29 07 02 22 \"x.y\" 22 00", "z", 2},
                {".a\\.b", "29", "a.b", 1},
                {".a..b", "29 07 02 \"a\" 00 07 02 00", "b", 3},
                {".a.", "29 07 02 \"a\" 00", "", 2},
                {".", "29", "", 1}};
    for (auto& r : rows) {
        resetcompiler();
        std::int32_t wentin = 5;
        EXPECT_EQ(gointo(r.in, wentin, {}), r.out) << r.in;
        EXPECT_EQ(wentin, 5 + r.levels) << r.in;
        EXPECT_EQ(current().code, hex(r.bytes)) << r.in;
    }
}

TEST_F(scanners, parsewords) {
    struct row {
        std::string in;
        parsed out;
    } rows[] = {{"x = 1\ny = 2\n", {{"x", "=", "1"}, {"y", "=", "2"}, {""}}},
                {"", {{""}}},
                {"if a {\n  b = 1\n}\n", {{"if", "a", "{\n  b = 1\n}"}, {""}}},
                {"x  = 1", {{"x", "", "=", "1"}}},
                {"a\n   b", {{"a"}, {"b"}}},
                {"print \"a (b\" x", {{"print", "\"a (b\"", "x"}}},
                {"x = [[1], [2]]", {{"x", "=", "[[1],", "[2]]"}}},
                {"a}", {{"a}"}}},
                {"a\r\nb", {{"a\r"}, {"b"}}},
                {"a\tb", {{"a", "b"}}},
                {" a", {{"", "a"}}},
                {"f(a b) {c\nd} [e f]", {{"f(a b)", "{c\nd}", "[e f]"}}},
                {"'a b' \"c 'd\" e", {{"'a b'", "\"c 'd\"", "e"}}},
                {"{(}) x", {{"{(})", "x"}}},
                {"\n\t x", {{""}, {"x"}}}};
    for (auto& r : rows) EXPECT_EQ(parse(r.in, 0), r.out) << r.in;
}

TEST_F(scanners, parsefailures) {
    // `at`: the offset the exit is reported at (the unclosed opener or the stray closer).
    struct row {
        std::string in;
        int status;
        std::string out;
        std::uint32_t at;
    } rows[] = {
        {"f(\")\")", 51, "parser error, markers over 1, grammatically not valid.0/0/1/0/0/0/", 4},
        {"{ (", 51, "parser error, markers over 1, grammatically not valid.1/0/0/0/0/0/", 0},
        {"(f[", 51, "parser error, markers over 1, grammatically not valid.0/1/0/0/0/1/", 2},
        {"'", 51, "parser error, markers over 1, grammatically not valid.0/0/0/1/0/0/", 0},
        {"[}", 52, "", 1},
        {"[)", 54, "", 1},
        {"{[}}", 52, "", 3},
        {"([))", 54, "", 3},
        {"(}", 51, "parser error, markers over 1, grammatically not valid.0/1/0/0/0/0/", 0},
        {"{)", 51, "parser error, markers over 1, grammatically not valid.1/0/0/0/0/0/", 0}};
    for (auto& r : rows) {
        resetcompiler();
        current().addfile("t", r.in);
        int status = 0;
        span where;
        try {
            parse(r.in, 0);
        } catch (const parserexit& e) { status = e.status, where = e.where; }
        const auto& events = current().events;
        EXPECT_EQ(events.empty() ? "" : events.back().text, r.out) << r.in;
        EXPECT_EQ(where.begin, r.at) << r.in;
        EXPECT_EQ(where.end, r.at + 1) << r.in;
        EXPECT_EQ(status, r.status) << r.in;
    }
}

TEST_F(scanners, parsestraybracket) {
    const auto failures = [](const std::string& text, const parsed& words) {
        resetcompiler();
        current().addfile("t", text);
        EXPECT_EQ(parse(text, 0), words) << text;
        std::vector<std::uint32_t> at;
        for (const parserevent& e : current().events) {
            EXPECT_EQ(e.text, "PARSER FAILURE");
            EXPECT_EQ(e.status, 0);
            at.push_back(e.where.begin);
        }
        return at;
    };
    EXPECT_EQ(failures("f(])", {{"f(])"}}), std::vector<std::uint32_t>{2});
    // A negative list count lowers later depth sums: the blank inside the parentheses cuts.
    EXPECT_EQ(failures("(] a)", {{"(]", "a)"}}), std::vector<std::uint32_t>{1});
}

TEST_F(scanners, parsedebugtrace) {
    ::testing::internal::CaptureStdout();
    parse("a\nb", 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "debugging mode is activated, printing debug information while parsing.\n"
              "0/a\n1/\n\ndetected newline, reset\n2/b\n");
    ::testing::internal::CaptureStdout();
    parse("{\n}", 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "0/{\n1/\n\ndetected newline, reset\n2/}\n");
}

TEST_F(scanners, isnumeric) {
    for (const char* both : {"123", "-5", "5-", "1-2", "-", "--", ""}) {
        EXPECT_TRUE(isnumeric(both, false)) << both;
        EXPECT_TRUE(isnumeric(both, true)) << both;
    }
    for (const char* point : {"1.5", ".", "1..2"}) {
        EXPECT_FALSE(isnumeric(point, false)) << point;
        EXPECT_TRUE(isnumeric(point, true)) << point;
    }
    for (const char* never : {"+1", " 1", "1e5", "0x1F", "1,5", "1 "}) {
        EXPECT_FALSE(isnumeric(never, false)) << never;
        EXPECT_FALSE(isnumeric(never, true)) << never;
    }
    EXPECT_FALSE(isnumeric(std::string_view("1\0", 2), true));
}

TEST_F(scanners, inlist) {
    const stringlist sfx = {".", "[", "("};
    EXPECT_TRUE(inlist(sfx, "["));
    EXPECT_TRUE(inlist(operators, "xor"));
    EXPECT_FALSE(inlist(sfx, std::string_view("\0", 1)));
    EXPECT_FALSE(inlist(sfx, " ["));
    EXPECT_FALSE(inlist(operators, "+-"));
    EXPECT_FALSE(inlist(operators, "AND"));
    EXPECT_FALSE(inlist({}, ""));
    EXPECT_FALSE(inlist({}, "x"));
}

} // namespace
