// Hover reads only the groups of nodes around the cursor (a statement at the top of the
// program with its descendants) and only the code of the node's group. Checked against a
// reading of every node and of the whole code: the same construct at every offset and the
// same listing for every node, on the examples, the end-to-end corpus's sources, random
// programs, programs with errors (keep-going compiles) and escaped strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bytecodereader.h"
#include "hover.h"
#include "randomprograms.h"
#include "support.h"

namespace {

using zvlsp::analysis;
using zvlsp::placement;

std::shared_ptr<const analysis> analysed(const std::string& source) {
    auto text = std::make_shared<const std::string>(source);
    zv::options options;
    options.sources = false;
    options.keepgoing = true;
    options.warn = true;
    options.compactorigins = true;
    options.name = "doc.zv";
    zv::result r = zv::compile(text, options);
    return zvlsp::analyse(r, text, "doc.zv");
}

// Every node read in turn.
std::optional<std::size_t> everynode(const analysis& a, std::size_t offset) {
    std::optional<std::size_t> best;
    std::size_t bestsize = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const placement n = a.at(i);
        if (!n.placed || offset < n.begin || offset >= n.end) continue;
        if (best && n.end - n.begin > bestsize) continue;
        best = i;
        bestsize = n.end - n.begin;
    }
    return best;
}

// The whole code walked, each instruction's node read.
std::vector<std::pair<std::size_t, std::string>> wholecode(const analysis& a, std::size_t top) {
    std::size_t end = top + 1;
    while (end < a.size() && a.origins->parent(end) >= static_cast<std::int32_t>(top)) ++end;
    std::vector<instruction> picked;
    zv::originmap::reader origin(*a.origins);
    walkbytecode(a.code, [&](const instruction& ins) {
        if (ins.offset >= a.origins->codesize()) return;
        const std::int32_t node = origin(ins.offset);
        if (node >= static_cast<std::int32_t>(top) && node < static_cast<std::int32_t>(end))
            picked.push_back(ins);
    });
    std::size_t outer = picked.empty() ? 0 : picked.front().depth;
    for (const instruction& ins : picked) outer = std::min(outer, ins.depth);
    std::vector<std::pair<std::size_t, std::string>> lines;
    for (const instruction& ins : picked)
        lines.emplace_back(ins.size, listingline(ins, a.code, ins.depth - outer));
    return lines;
}

// Agrees on `source` at every offset and for every node; the number of nodes.
std::size_t agree(const std::string& source) {
    const auto a = analysed(source);
    for (std::size_t offset = 0; offset <= source.size(); ++offset) {
        EXPECT_EQ(zvlsp::constructat(*a, offset), everynode(*a, offset)) << "offset " << offset;
    }
    for (std::size_t node = 0; node < a->size(); ++node) {
        EXPECT_EQ(zvlsp::listingof(*a, node), wholecode(*a, node)) << "node " << node;
    }
    return a->size();
}

TEST(HoverGroups, AgreeWithEveryNodeOnTheExamples) {
    std::size_t examples = 0;
    for (const auto& e : std::filesystem::directory_iterator(ZV_EXAMPLES_DIR)) {
        if (e.path().extension() != ".zv") continue;
        SCOPED_TRACE(e.path().string());
        EXPECT_GT(agree(zvtest::slurp(e.path())), 10u);
        ++examples;
    }
    EXPECT_GE(examples, 4u);
}

TEST(HoverGroups, AgreeWithEveryNodeOnTheEndToEndSources) {
    const auto sources = zvtest::readcasesources(ZV_E2E_CASES_DIR);
    for (const zvtest::casesource& source : sources) {
        SCOPED_TRACE(source.name);
        agree(source.text);
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(sources.size(), 100u);
}

TEST(HoverGroups, AgreeWithEveryNodeOnRandomAndBrokenPrograms) {
    programs generate(4711);
    for (int i = 0; i < 100; ++i) {
        // The reference reads every node at every offset: texts of a few kilobytes.
        std::string text = generate.next();
        if (text.size() > 2048) text.resize(2048);
        SCOPED_TRACE(text);
        agree(text);
        if (::testing::Test::HasFailure()) return;
    }
    // Errors between statements at the top and inside bodies, escapes, and a class.
    for (const char* text : {
             "a = 1\nb = (c))\nprint(\"x\\n\" + a)\ng = 3 +\nh(4)\n",
             "def f(a) {\n  if a {\n    print(\"hi\\t\" + a)\n  }\n  x = (1\n  y = 2\n}\nf(2)\n",
             "class C {\n  def m(v) {\n    @v = v\n  }\n}\nc = C()\nc.m([1, {\"k\": 2}])\n",
             "}\nx = 1\n]\ny = [1, 2\nz = 3\n",
         }) {
        SCOPED_TRACE(text);
        EXPECT_GT(agree(text), 5u);
    }
}

// A group's code is read alone: a statement after thousands of others lists as at the top.
TEST(HoverGroups, ListTheLastStatementOfALongProgramAsItsOwn) {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        const std::string n = std::to_string(i);
        text += cat({"v", n, " = [", n, "]\n"});
    }
    text += "if v1 {\n  print(\"done\")\n}\n";
    const auto a = analysed(text);
    const std::size_t at = text.find("print");
    const auto node = zvlsp::constructat(*a, at);
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(zvlsp::listingof(*a, *node), wholecode(*a, *node));
    EXPECT_EQ(a->groups.size(), 3001u);
}

} // namespace
