// zv check against the documentation. Every example of docs/diagnostics.md (files in
// "zv file: NAME" fences, then a "console" fence holding `$ zv ...` and what it prints)
// must print exactly that; the chapter must show every warning and name every message of
// the guide's error table. The guide's own examples (docs/language.md) must draw no
// diagnostic when they compile and exactly the documented error when they fail, and the
// programs in examples/ must check clean.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "messages.h"
#include "runzv.h"
#include "zv.hpp"

namespace zvtest {

namespace {

const fs::path sourcedir = ZV_SOURCE_DIR;
// What the chapter shows for the working directory of its examples.
const std::string shownworkdir = "/home/you/project";

struct fence {
    int line = 0;     // of the opening fence
    std::string info; // after the backticks
    std::string text; // every line ended by a line feed
};

std::vector<fence> fences(const fs::path& markdown) {
    std::vector<fence> out;
    std::istringstream in(slurp(markdown));
    bool open = false;
    std::string l;
    for (int number = 1; std::getline(in, l); ++number) {
        if (open && l == "```")
            open = false;
        else if (open)
            out.back().text += l + "\n";
        else if (l.starts_with("```"))
            out.push_back({number, l.substr(3), ""}), open = true;
    }
    return out;
}

// --------------------------------------------------------------------------------------
// The chapter's examples.

struct example {
    int line = 0;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
    std::string expected;
    friend void PrintTo(const example& e, std::ostream* os) { *os << "line " << e.line; }
};

std::vector<example> chapterexamples() {
    std::vector<example> out;
    std::vector<std::pair<std::string, std::string>> files;
    bool ran = false; // a command was shown since the last file: the next file starts anew
    for (const fence& f : fences(sourcedir / "docs" / "diagnostics.md")) {
        if (f.info.starts_with("zv file: ")) {
            if (ran) files.clear(), ran = false;
            files.emplace_back(f.info.substr(9), f.text);
        } else if (f.info == "console" && f.text.starts_with("$ zv ")) {
            example& e = out.emplace_back();
            e.line = f.line, e.files = files;
            const std::size_t end = f.text.find('\n');
            std::istringstream words(f.text.substr(5, end - 5));
            for (std::string w; words >> w;) e.args.push_back(w);
            e.expected = f.text.substr(end + 1);
            ran = true;
        }
    }
    return out;
}

// JSON output is compared as data, without the version, which changes with every release.
nlohmann::json withoutversion(const std::string& text) {
    auto doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_object()) doc.erase("version");
    return doc;
}

// The exit status that the output shown implies.
int statusshown(const std::string& output) {
    if (output.starts_with("{")) return withoutversion(output).value("errors", 0) > 0 ? 1 : 0;
    if (output.find("Run with --help") != std::string::npos) return 2;
    return output.find(": error: ") != std::string::npos ? 1 : 0;
}

class chapter : public ::testing::TestWithParam<example> {};

TEST_P(chapter, ExamplePrintsWhatItShows) {
    const example& e = GetParam();
    scratchdir dir;
    for (const auto& [name, text] : e.files) spit(dir.path / name, text);
    const runresult r = runzv(dir.path, {e.args});
    const std::string shown = replaceall(r.out + r.err, dir.path.string(), shownworkdir);
    SCOPED_TRACE("docs/diagnostics.md line " + std::to_string(e.line));
    if (e.expected.starts_with("{")) {
        EXPECT_EQ(withoutversion(r.out), withoutversion(e.expected));
    } else {
        EXPECT_EQ(shown, e.expected);
    }
    EXPECT_EQ(r.status, statusshown(e.expected));
}

INSTANTIATE_TEST_SUITE_P(docs, chapter, ::testing::ValuesIn(chapterexamples()),
                         [](const auto& info) { return "line" + std::to_string(info.param.line); });

TEST(chaptercoverage, EveryWarningHasAnExample) {
    std::string shown;
    for (const example& e : chapterexamples()) shown += e.expected;
    for (const auto& w : zv::warnings())
        EXPECT_NE(shown.find(std::string("[-W") + w.name + "]"), std::string::npos) << w.name;
}

// The messages of the guide's error table, each up to its first placeholder.
std::vector<std::string> guidemessages() {
    std::istringstream in(slurp(sourcedir / "docs" / "language.md"));
    std::vector<std::string> out;
    bool table = false;
    static const std::regex code("`([^`<]+)");
    for (std::string l; std::getline(in, l);) {
        if (l.starts_with("| Message |")) table = true;
        if (!table || !l.starts_with("| `")) continue;
        const std::string first = l.substr(0, l.find(" | "));
        for (std::sregex_iterator m(first.begin(), first.end(), code), end; m != end; ++m)
            out.push_back((*m)[1]);
    }
    return out;
}

TEST(chaptercoverage, EveryMessageOfTheGuideIsExplained) {
    const std::string text = slurp(sourcedir / "docs" / "diagnostics.md");
    const auto messages = guidemessages();
    EXPECT_GT(messages.size(), 20u) << "the guide's error table was not found";
    for (const auto& m : messages) EXPECT_NE(text.find(m), std::string::npos) << m;
}

// --------------------------------------------------------------------------------------
// The guide's examples and the example programs.

struct guideexample {
    int line = 0;
    std::string kind, detail, text;
    friend void PrintTo(const guideexample& g, std::ostream* os) { *os << "line " << g.line; }
};

std::vector<guideexample> guideexamples() {
    std::vector<guideexample> out;
    for (const fence& f : fences(sourcedir / "docs" / "language.md")) {
        if (f.info != "zv" && !f.info.starts_with("zv ")) continue;
        if (f.info.starts_with("zv file: ")) continue; // an included file, not a program
        const std::string info = f.info.size() > 3 ? f.info.substr(3) : "";
        const std::size_t colon = info.find(": ");
        out.push_back({f.line, info.substr(0, colon),
                       colon == std::string::npos ? "" : info.substr(colon + 2), f.text});
    }
    return out;
}

struct guidefile {
    std::string name, text;
};

std::vector<guidefile> guidefiles() {
    std::vector<guidefile> out;
    for (const fence& f : fences(sourcedir / "docs" / "language.md"))
        if (f.info.starts_with("zv file: ")) out.push_back({f.info.substr(9), f.text});
    return out;
}

// What zv check must report for a guide example of each kind: the code and message of its
// one error, or nothing for a program that compiles.
const std::map<std::string, std::pair<std::string, std::string>> expectedbykind = {
    {"status: 51", {"unclosed", ""}},
    {"status: 52", {"stray-brace", "this '}' closes no '{'"}},
    {"status: 54", {"stray-parenthesis", "this ')' closes no '('"}},
    {"warns: PARSER FAILURE", {"stray-bracket", "this ']' closes no '['"}},
};

class guide : public ::testing::TestWithParam<guideexample> {};

TEST_P(guide, ChecksAsTheGuideSays) {
    const guideexample& g = GetParam();
    scratchdir dir;
    for (const auto& other : guidefiles()) spit(dir.path / other.name, other.text);
    spit(dir.path / "prog.zv", g.text);
    const runresult r = runzv(dir.path, {{"check", "--format=json", "prog.zv"}});
    const auto doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << r.out << r.err;
    SCOPED_TRACE("docs/language.md line " + std::to_string(g.line) + ":\n" + g.text);
    const auto& list = doc["diagnostics"];
    if (g.kind.empty() || g.kind == "string" || g.kind == "code") {
        EXPECT_EQ(list.size(), 0u) << list.dump(2);
        EXPECT_EQ(r.status, 0);
        return;
    }
    auto known = expectedbykind.find(g.kind + ": " + g.detail);
    const auto [code, message] =
        known != expectedbykind.end()
            ? known->second
            : std::pair<std::string, std::string>{zvmessages::classify(g.detail).code, g.detail};
    // A stray ']' is reported on its own. zv check splits the text as if it were absent,
    // so the error it leads `zvc` to (a line cut short) may not come. A stray '}' or ')'
    // taken as absent leaves open the bracket it stood in, which is reported too.
    const bool stray = std::any_of(list.begin(), list.end(),
                                   [](const auto& d) { return d["code"] == "stray-bracket"; });
    auto errors = list;
    errors.erase(std::remove_if(errors.begin(), errors.end(),
                                [&](const auto& d) {
                                    const bool closer =
                                        code == "stray-brace" || code == "stray-parenthesis";
                                    return d["severity"] != "error" ||
                                           (d["code"] == "stray-bracket" && code != d["code"]) ||
                                           (closer && d["code"] == "unclosed");
                                }),
                 errors.end());
    if (stray && code != "stray-bracket" && errors.empty()) return;
    ASSERT_EQ(errors.size(), 1u) << list.dump(2);
    EXPECT_EQ(errors[0]["code"], code);
    if (!message.empty()) { EXPECT_EQ(errors[0]["message"], message); }
    EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(docs, guide, ::testing::ValuesIn(guideexamples()),
                         [](const auto& info) { return "line" + std::to_string(info.param.line); });

TEST(examples, CheckClean) {
    scratchdir dir;
    fs::copy(sourcedir / "examples", dir.path, fs::copy_options::recursive);
    invocation how{{"check"}};
    for (const auto& entry : fs::directory_iterator(dir.path))
        if (entry.path().extension() == ".zv") how.args.push_back(entry.path().filename());
    std::sort(how.args.begin() + 1, how.args.end());
    ASSERT_GT(how.args.size(), 1u);
    const runresult r = runzv(dir.path, how);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

} // namespace

} // namespace zvtest
