// The flat statement outline against the reference outline (every statement with vectors
// of its own): the same statements, words, offsets, bodies and marks on the examples, the
// end-to-end corpus's sources, broken and half-typed texts, CR LF texts, nesting and cuts at
// their limits, and random programs; and the run storage the outline keeps them in.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "outline.h"
#include "randomprograms.h"
#include "referenceoutline.h"
#include "support.h"

namespace {

using zvlsp::outline;
using zvlsp::statement;

std::string crlf(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string repeated(std::string_view piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out.append(piece);
    return out;
}

// The first difference between `got` and `want`, with the path of statement indexes to it;
// empty when they are the same.
std::string difference(std::span<const statement> got, const std::vector<zvlspref::statement>& want,
                       const std::string& path) {
    if (got.size() != want.size()) {
        return path + ": " + std::to_string(got.size()) + " statements, reference " +
               std::to_string(want.size());
    }
    for (std::size_t i = 0; i < got.size(); ++i) {
        const statement& g = got[i];
        const zvlspref::statement& w = want[i];
        std::string at = path;
        at += '/';
        at += std::to_string(i);
        if (g.words.size() != w.words.size()) return at + ": word count differs";
        for (std::size_t k = 0; k < g.words.size(); ++k) {
            if (g.words[k].offset != w.words[k].offset || g.words[k].text() != w.words[k].text) {
                std::string d = at + ": word " + std::to_string(k) + " '";
                d.append(g.words[k].text())
                    .append("' at ")
                    .append(std::to_string(g.words[k].offset));
                d.append(", reference '").append(w.words[k].text).append("' at ");
                return d + std::to_string(w.words[k].offset);
            }
        }
        if (g.bodyword != w.bodyword) return at + ": body word differs";
        if (g.keyword != w.keyword) return at + ": keyword mark differs";
        if (g.block != w.block) return at + ": block mark differs";
        if (std::string d = difference(g.body, w.body, at); !d.empty()) return d;
    }
    return {};
}

// Splits `text` with both outlines (the flat one from a string and from a shared text) and
// checks that they agree; the number of statements of the flat one.
std::size_t agree(const std::string& text) {
    const zvlspref::outline want(text);
    const outline owned(text);
    const outline shared(std::make_shared<const std::string>(text));
    EXPECT_EQ(difference(owned.statements(), want.statements(), ""), "");
    EXPECT_EQ(difference(shared.statements(), want.statements(), ""), "");
    std::size_t count = 0;
    zvlsp::walkstatements(owned.statements(), [&](const statement&, int) { ++count; });
    return count;
}

std::vector<std::string> examples() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(ZV_EXAMPLES_DIR)) {
        out.push_back(zvtest::slurp(e.path()));
    }
    EXPECT_GE(out.size(), 5u);
    return out;
}

TEST(Outline, MatchesTheReferenceOnTheExamplesWholeAndTypedHalf) {
    for (const std::string& text : examples()) {
        EXPECT_GT(agree(text), 0u);
        agree(crlf(text));
        // Every prefix: a program being typed, its last line and block unfinished.
        for (std::size_t n = 0; n < text.size(); ++n) {
            SCOPED_TRACE("prefix " + std::to_string(n));
            agree(text.substr(0, n));
        }
        // Every byte taken out once: brackets and quotes left unbalanced.
        for (std::size_t n = 0; n < text.size(); n += 3) {
            SCOPED_TRACE("without byte " + std::to_string(n));
            agree(std::string(text).erase(n, 1));
        }
    }
}

TEST(Outline, MatchesTheReferenceOnTheEndToEndSources) {
    const auto sources = zvtest::readcasesources(ZV_E2E_CASES_DIR);
    for (const zvtest::casesource& source : sources) {
        SCOPED_TRACE(source.name);
        agree(source.text);
        agree(crlf(source.text));
    }
    EXPECT_GT(sources.size(), 100u);
}

TEST(Outline, MatchesTheReferenceOnBrokenTexts) {
    const char* const texts[] = {
        "",
        "\n\n   \n",
        "x = (1\ny = 2\n",
        "total = clamp(\nnext = 3\n",
        "total = clamp(\n    inner = 3\nnext = 4\n",
        "a = f(\nb = 1]\nc = 2\n",
        "x = [1, 2\nif a {\n    y = 3\n}\n",
        "if a {\n    b()\n",
        "if a {\n    def f(x) {\n        return x\n",
        "def f(a, b {\n    c = 1\n}\n",
        "def g(a) {\n    x = (\n}\nz = 1\n",
        "}\n}\nx = 1\n",
        ")\n]\nx = 1\n",
        "x = 1 )\ny = 2 ]\nz = 3 }\n",
        "class C {\n    def m(a) {\n        @v = a\n    \nclass D {\n}\n",
        "s = \"unclosed\nt = 2\n",
        "s = \"a ( b\"\nt = f(\nu = 2\n",
        "while x {\r\n    y = (1\r\n}\r\n",
        "for i in range(10) as e {\n    print(e\n}\n",
        "forever {\n    if a { break\n}\n",
        "x = a +\n",
        "def\n",
        "if\n",
        "$@ a {\n    b = [\n}\n",
        "also\nalso lib\nalso lib extra\n",
        "  \t x =   1\n\t\ty\t=\t2\n",
        "x = {a: (1, b: 2}\n",
        "\r\n\r\nx = 1\r",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        agree(text);
        agree(crlf(text));
    }
}

// `if a {` nested `depth` times around `b()`.
std::string nested(int depth) {
    return repeated("if a {\n", static_cast<std::size_t>(depth)) + "b()\n" +
           repeated("}\n", static_cast<std::size_t>(depth));
}

// The deepest statement of `tree`, and how many it has.
std::pair<int, std::size_t> depthandcount(const outline& tree) {
    int deepest = -1;
    std::size_t count = 0;
    zvlsp::walkstatements(tree.statements(), [&](const statement&, int depth) {
        deepest = std::max(deepest, depth);
        ++count;
    });
    return {deepest, count};
}

TEST(Outline, SplitsBlocksToTheDepthLimitAndNoDeeper) {
    const int n = zvlsp::maxoutlinedepth;
    // At the limit the innermost call is split; one block deeper its block stays a word.
    const outline at(nested(n));
    EXPECT_EQ(depthandcount(at), std::make_pair(n, static_cast<std::size_t>(n) + 1));
    const outline past(nested(n + 1));
    EXPECT_EQ(depthandcount(past), std::make_pair(n, static_cast<std::size_t>(n) + 1));
    const statement* deepest = &past.statements().front();
    for (int d = 0; d < n; ++d) deepest = &deepest->body.front();
    EXPECT_TRUE(deepest->block);
    EXPECT_TRUE(deepest->body.empty());
    for (const int depth : {n - 1, n, n + 1, n + 50}) {
        SCOPED_TRACE(depth);
        agree(nested(depth));
        agree(crlf(nested(depth)));
    }
}

TEST(Outline, CutsRunOnStatementsToTheLimitAndNoMore) {
    // A list left open on its line by a dictionary: the splitter makes one statement of the
    // three lines, which the outline cuts at its first line end into three statements.
    const std::string piece = "x = [a, {\nc = 1\n}]\n";
    const std::size_t n = zvlsp::maxoutlinecuts;
    EXPECT_EQ(agree(repeated(piece, n)), 3 * n);
    // One more and the last is left as the splitter made it.
    EXPECT_EQ(agree(repeated(piece, n + 1)), 3 * n + 1);
    // Lines left open before the next statement that the splitter ends itself: no cut.
    for (const char* other : {"a = f(\nb = 1]\n", "total = clamp(sum(\nnext = 3\n"}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(agree(repeated(other, n + 1)), 2 * (n + 1));
    }
}

TEST(Outline, MatchesTheReferenceOnRandomPrograms) {
    programs generate(2026);
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i) {
        // The generator now and then writes megabytes: a long one is taken as far as a
        // point in its first `longest` bytes.
        constexpr std::size_t longest = 16384;
        std::string text = generate.next();
        if (text.size() > longest) {
            text.resize(std::uniform_int_distribution<std::size_t>(longest / 2, longest)(random));
        }
        SCOPED_TRACE(text);
        agree(text);
        agree(crlf(text));
        // Cut short anywhere, as while typing.
        const std::size_t cut = std::uniform_int_distribution<std::size_t>(0, text.size())(random);
        agree(text.substr(0, cut));
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(Outline, KeepsALargeDocumentInLittleMoreThanItsWordsAndStatements) {
    std::string text;
    for (const std::string& e : examples()) text += e + "\n";
    text = repeated(text, 400);
    const outline tree(text);
    std::size_t statements = 0, words = 0;
    zvlsp::walkstatements(tree.statements(), [&](const statement& s, int) {
        ++statements;
        words += s.words.size();
    });
    const std::size_t exact = statements * sizeof(statement) + words * sizeof(zvlsp::word);
    ASSERT_GT(statements, 20000u);
    EXPECT_GE(tree.storagebytes(), exact);
    // A chunk's unused end, and a few ends of chunks too short for the next run.
    const std::size_t slack = zvlsp::runstore<statement>::largestchunk * sizeof(statement) +
                              zvlsp::runstore<zvlsp::word>::largestchunk * sizeof(zvlsp::word);
    EXPECT_LE(tree.storagebytes(), exact + exact / 64 + slack);
}

TEST(Outline, SharesTheTextWithoutCrLfAndSplitsNothingOfAnEmptyOne) {
    const auto text = std::make_shared<const std::string>("x = 1\nif a {\n    y = 2\n}\n");
    const outline tree(text);
    ASSERT_EQ(tree.statements().size(), 2u);
    // The words are views of the shared text itself.
    EXPECT_EQ(tree.statements()[1].body[0].words[0].text().data(),
              text->data() + text->find("y = 2"));
    EXPECT_EQ(outline(std::string()).statements().size(), 0u);
    EXPECT_EQ(outline(std::string()).storagebytes(), 0u);
}

// Runs in a store with chunks of 2 to 8 elements.
using smallstore = zvlsp::runstore<int, 2, 8>;

TEST(RunStore, KeepsEveryRunWhereItWasPutAndWhole) {
    smallstore store;
    std::vector<std::span<const int>> spans;
    std::vector<std::vector<int>> runs;
    const std::size_t lengths[] = {1, 2, 0, 3, 8, 9, 1, 7, 20, 2, 8, 1, 1, 1, 5, 0, 16};
    int next = 0;
    for (const std::size_t n : lengths) {
        std::vector<int> run(n);
        for (int& v : run) v = next++;
        spans.push_back(store.add(run));
        runs.push_back(std::move(run));
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_TRUE(std::equal(spans[i].begin(), spans[i].end(), runs[i].begin(), runs[i].end()))
            << i;
        total += runs[i].size();
    }
    EXPECT_EQ(store.size(), total);
}

TEST(RunStore, GrowsChunksToTheLargestAndGivesLongerRunsTheirOwn) {
    struct step {
        std::size_t run;      // the length of the run added
        std::size_t capacity; // the room taken after it
    };
    // Chunks as large as what is held (2 to 8); a run longer than the next chunk gets a
    // chunk of its own length, and the chunk being filled goes on being filled.
    const std::vector<std::vector<step>> cases = {
        {{1, 2}, {1, 2}, {1, 2 + 2}, {3, 4 + 3}},
        // Runs of the largest chunk share chunks; one longer has its own.
        {{8, 8}, {8, 8 + 8}, {9, 16 + 9}, {8, 25 + 8}},
        // Longer than the next chunk (2): its own, and the chunk being filled fills on.
        {{1, 2}, {3, 2 + 3}, {1, 5}, {1, 5 + 5}},
        {{0, 0}, {0, 0}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        smallstore store;
        for (std::size_t i = 0; i < cases[c].size(); ++i) {
            store.add(std::vector<int>(cases[c][i].run, 1));
            EXPECT_EQ(store.capacity(), cases[c][i].capacity) << "case " << c << " step " << i;
        }
    }
}

} // namespace
