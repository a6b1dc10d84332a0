// The outline and the token classifier read the language's table of statement forms and
// operators: every form is split with its keyword and body where the table puts them, and
// every operator of the table is coloured as an operator.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

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

// A token is cut at each line end it crosses (LF or CR LF), and a token on a line of many
// is cut at no line end but its own: the pieces are exactly the string's text on each line.
TEST(Language, TokensAreCutAtLineEndsOnly) {
    const std::vector<std::vector<std::string>> cases = {
        {"one"},
        {"first", "second"},
        {"a", "", "c"},
        {"x y z", "w"},
    };
    for (const std::string_view end : {"\n", "\r\n"}) {
        for (const auto& lines : cases) {
            std::string literal = "\"";
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (i) literal += end;
                literal += lines[i];
            }
            literal += "\"";
            // Many tokens on the string's first line, before it.
            std::string text = "x = a + b + c + ";
            const std::size_t at = text.size();
            text += literal;
            text += end;
            SCOPED_TRACE(text);
            const outline tree(text);
            std::vector<std::string> pieces;
            for (const token& t : tokenize(tree, text)) {
                const std::string piece = text.substr(t.begin, t.end - t.begin);
                EXPECT_EQ(piece.find_first_of("\r\n"), std::string::npos);
                if (t.type == tokentype::string)
                    pieces.push_back(piece);
                else
                    EXPECT_LT(t.end, at);
            }
            std::vector<std::string> expected;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                std::string line = lines[i];
                if (i == 0) line.insert(line.begin(), '"');
                if (i + 1 == lines.size()) line += '"';
                if (!line.empty()) expected.push_back(line);
            }
            EXPECT_EQ(pieces, expected);
        }
    }
}

} // namespace
