// The outline and the token classifier read the language's table of statement forms and
// operators: every form is split with its keyword and body where the table puts them, and
// every operator of the table is coloured as an operator.
#include <gtest/gtest.h>

#include <string>

#include "language.h"
#include "outline.h"
#include "tokens.h"

namespace {

using namespace zvlsp;

// A statement of form `f` with the most words it takes, its body (if any) a block.
std::string sample(const statementform& f) {
    std::string text(f.keyword);
    for (int i = 0; i < f.most; ++i) {
        if (i == f.body) {
            text += " {\n    y = 2\n}";
        } else {
            text += " w";
            text += std::to_string(i);
        }
    }
    return text + "\n";
}

TEST(Language, OutlineSplitsEveryFormAsTheTableSays) {
    for (const statementform& f : statementforms) {
        SCOPED_TRACE(std::string(f.keyword));
        const std::string text = sample(f);
        const outline tree(text);
        ASSERT_EQ(tree.statements().size(), 1u);
        const statement& s = tree.statements().front();
        EXPECT_TRUE(s.keyword);
        EXPECT_EQ(s.words.size(), static_cast<std::size_t>(f.most) + 1);
        EXPECT_EQ(s.bodyword, f.body < 0 ? -1 : f.body + 1);
        EXPECT_EQ(s.block, f.body >= 0);
        EXPECT_EQ(s.body.size(), f.body >= 0 ? 1u : 0u);
    }
}

TEST(Language, AssignmentToAKeywordIsNoStatementForm) {
    for (const statementform& f : statementforms) {
        std::string text(f.keyword);
        text += " = 1\n";
        const outline tree(text);
        ASSERT_EQ(tree.statements().size(), 1u) << f.keyword;
        EXPECT_FALSE(tree.statements().front().keyword) << f.keyword;
    }
}

TEST(Language, EveryOperatorIsColouredAsOne) {
    for (const operatorinfo& o : operatortable) {
        SCOPED_TRACE(std::string(o.text));
        std::string text = "x = a ";
        text += o.text;
        text += " b\n";
        const outline tree(text);
        const auto tokens = tokenize(tree, text);
        const std::size_t at = 6; // after "x = a "
        ASSERT_EQ(text.substr(at, o.text.size()), o.text);
        bool found = false;
        for (const token& t : tokens) {
            if (t.begin == at && t.end == at + o.text.size()) found = t.type == tokentype::op;
        }
        EXPECT_TRUE(found);
    }
}

} // namespace
