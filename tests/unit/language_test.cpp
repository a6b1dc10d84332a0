// The table of the language's facts against the compiler that reads it: for every statement
// form, the word counts it accepts and refuses, and whether a class body takes it; for every
// operator, the bytes of an expression step and that the scanners find it in a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "language.h"
#include "zv.hpp"

namespace {

// `count` words after `keyword`: blocks where the form has its body, names elsewhere.
std::string statement(const statementform& f, int count) {
    std::string out(f.keyword);
    const char* body = f.kind == formkind::classform ? " {def m() {x = 1}}" : " {x = 1}";
    for (int i = 0; i < count; ++i) out += i == f.body ? body : " a" + std::to_string(i);
    return out;
}

TEST(language, everyformtakesthewordsthetablesays) {
    for (const statementform& f : statementforms) {
        SCOPED_TRACE(std::string(f.keyword));
        if (f.kind == formkind::also) continue; // its word names a file to read
        for (int n = f.least; n <= f.most; ++n) {
            // "def" needs its parameter list, "for" its variable: a real name in each place.
            std::string text = statement(f, n);
            if (f.kind == formkind::def) text = "def f() {x = 1}";
            const zv::result r = zv::compile(text + "\n");
            EXPECT_EQ(r.status, 0) << text << ": " << r.message;
        }
        if (f.least > 0) {
            const zv::result r = zv::compile(statement(f, f.least - 1) + "\n");
            EXPECT_EQ(r.message, "Incomplete statement: '" + std::string(f.keyword) + "'");
        }
        const zv::result more = zv::compile(statement(f, f.most + 1) + "\n");
        EXPECT_TRUE(more.message.starts_with("Unexpected words after statement: ")) << more.message;
        // A class body takes a form or refuses it by the table.
        const zv::result inclass = zv::compile("class C {\n" + statement(f, f.most) + "\n}\n");
        if (f.inclass) {
            EXPECT_NE(inclass.message, "Only def & class allowed in class definition!");
        } else {
            EXPECT_EQ(inclass.message, "Only def & class allowed in class definition!");
        }
    }
}

TEST(language, everyoperatorcompilestoitsbytes) {
    for (const operatorinfo& o : operatortable) {
        SCOPED_TRACE(std::string(o.text));
        // "not" takes one operand and no argument frame.
        const bool unary = o.text == "not";
        const std::string text = unary    ? "x = (not b)"
                                 : o.word ? "x = (a " + std::string(o.text) + " b)"
                                          : "x = a" + std::string(o.text) + "b";
        const zv::result r = zv::compile(text + "\n");
        ASSERT_EQ(r.status, 0) << r.message;
        // The step: ARGS, the access of b, ENDARGS, the operator's bytes.
        std::vector<std::uint8_t> want = {ACCESS, LOAD, TYPE_STRING, 'b', 0};
        if (!unary) {
            want.insert(want.begin(), ARGS);
            want.push_back(ENDARGS);
        }
        want.insert(want.end(), o.bytes.begin(), o.bytes.begin() + o.size);
        EXPECT_NE(std::search(r.code.begin(), r.code.end(), want.begin(), want.end()),
                  r.code.end());
    }
    EXPECT_EQ(findoperator("=>"), nullptr);
    EXPECT_EQ(findform("elif"), nullptr);
}

} // namespace
