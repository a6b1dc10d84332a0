// Completion (names of the document and its includes, members best first, include files,
// statement snippets, resolve) and signature help, on whole and on broken documents.
#include <regex>

#include "compiler.h"
#include "completion.h"
#include "edits.h"
#include "session.h"

namespace {

using lsptest::holds;
using lsptest::json;
using lsptest::labels;
using lsptest::scratch;
using lsptest::session;

// A text with one '|' marking the cursor: the text without it and the cursor's position.
struct cursor {
    std::string text;
    unsigned line = 0, character = 0;
};

cursor mark(const std::string& marked) {
    const std::size_t at = marked.find('|');
    cursor c{marked.substr(0, at) + marked.substr(at + 1)};
    for (std::size_t i = 0; i < at; ++i) {
        if (marked[i] == '\n') {
            ++c.line;
            c.character = 0;
        } else {
            ++c.character;
        }
    }
    return c;
}

const std::string library = "def square(v) {\n  return v*v\n}\nGlimit = 10\n";

const std::string program = "also lib\n"
                            "def clamp(x, lo, hi) {\n"
                            "  return x\n"
                            "}\n"
                            "class Counter {\n"
                            "  def step(by) {\n"
                            "    @count = @count+by\n"
                            "  }\n"
                            "}\n"
                            "class Timer {\n"
                            "  def tick() {\n"
                            "    return 1\n"
                            "  }\n"
                            "}\n"
                            "c = %Counter\n"
                            "t = Timer\n"
                            "Gtotal = 0\n";

// The completion at the '|' of `marked`, opened as prog.zv beside lib.ZVEX.
json complete(const scratch& dir, const std::string& marked) {
    session s;
    s.initialize();
    const cursor c = mark(marked);
    s.open(dir.uri("prog.zv"), c.text);
    return s.result("textDocument/completion",
                    session::at(dir.uri("prog.zv"), c.line, c.character));
}

const json* item(const json& completion, const std::string& label) {
    for (const json& i : completion["items"]) {
        if (i["label"] == label) return &i;
    }
    return nullptr;
}

TEST(Completion, NamesOfTheDocumentAndItsIncludes) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    const json got = complete(dir, program + "|\n");
    const auto names = labels(got);
    for (const char* expected : {"clamp", "Counter", "Timer", "c", "t", "Gtotal", "square",
                                 "Glimit", "if", "while", "for", "def", "class", "also"}) {
        EXPECT_TRUE(holds(names, expected)) << expected << " in " << got.dump();
    }
    // Members and parameters are not names at the top level.
    for (const char* absent : {"step", "count", "tick", "x", "lo", "by", "v"}) {
        EXPECT_FALSE(holds(names, absent)) << absent;
    }
    const json& clamp = *item(got, "clamp");
    EXPECT_EQ(clamp["kind"], 3);
    EXPECT_EQ(clamp["detail"], "def clamp(x, lo, hi)");
    EXPECT_EQ(clamp["insertText"], "clamp(${1:x}, ${2:lo}, ${3:hi})$0");
    EXPECT_EQ(clamp["insertTextFormat"], 2);
    EXPECT_EQ((*item(got, "Counter"))["kind"], 7);
    // The document's own names before those of its includes, names before keywords.
    const auto sort = [&](const char* label) {
        return (*item(got, label))["sortText"].get<std::string>();
    };
    EXPECT_LT(sort("clamp"), sort("square"));
    EXPECT_LT(sort("square"), sort("if"));
}

TEST(Completion, KeywordsByPlace) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    // Inside an expression: the word operators, no statement forms.
    const auto inexpr = labels(complete(dir, program + "z = (a |\n"));
    EXPECT_TRUE(holds(inexpr, "and"));
    EXPECT_TRUE(holds(inexpr, "not"));
    EXPECT_FALSE(holds(inexpr, "while"));
    EXPECT_TRUE(holds(inexpr, "clamp"));
    // At the start of a statement in a block: the forms.
    const auto inblock = labels(complete(dir, program + "if ok {\n  |\n}\n"));
    EXPECT_TRUE(holds(inblock, "while"));
    EXPECT_FALSE(holds(inblock, "and"));
}

TEST(Completion, ParametersOfTheFunctionAroundTheCursorFirst) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    const json got = complete(dir, "def clamp(x, lo, hi) {\n  return |\n}\ny = 1\n");
    const json* lo = item(got, "lo");
    ASSERT_NE(lo, nullptr) << got.dump();
    EXPECT_EQ((*lo)["detail"], "parameter of clamp");
    EXPECT_LT((*lo)["sortText"].get<std::string>(),
              (*item(got, "y"))["sortText"].get<std::string>());
}

TEST(Completion, MembersAfterDotAndAtBestFirst) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    struct place {
        const char* line;
        std::vector<std::string> best, rest;
    };
    const place table[] = {
        {"c.|", {"step", "count"}, {"tick"}},
        {"t.|", {"tick"}, {"step", "count"}},
        {"t.ti|", {"tick"}, {"step", "count"}},
        {"u.|", {}, {"step", "count", "tick"}}, // nothing known of u
    };
    for (const place& p : table) {
        SCOPED_TRACE(p.line);
        const json got = complete(dir, program + p.line + "\n");
        const auto names = labels(got);
        ASSERT_EQ(names.size(), p.best.size() + p.rest.size()) << got.dump();
        for (std::size_t i = 0; i < names.size(); ++i) {
            const bool best = i < p.best.size();
            EXPECT_TRUE(holds(best ? p.best : p.rest, names[i])) << names[i];
            EXPECT_EQ(got["items"][i]["sortText"].get<std::string>()[0], best ? '0' : '1');
        }
    }
    // '@' inside a method: the members of the class around it first.
    const std::string inside = "class Timer {\n  def tick() {\n    return 1\n  }\n}\n"
                               "class Counter {\n  def step(by) {\n    @count = @|\n  }\n}\n";
    const json got = complete(dir, inside);
    ASSERT_GE(got["items"].size(), 3u) << got.dump();
    EXPECT_EQ(got["items"][2]["label"], "tick");
    EXPECT_EQ((*item(got, "step"))["kind"], 2);
    EXPECT_EQ((*item(got, "count"))["kind"], 5);
}

TEST(Completion, AlsoOffersTheFilesThatCanBeIncluded) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    dir.write("shapes.ZVEX", "w = 1\n");
    dir.write("notes.txt", "");
    dir.write("lib.zv", "");
    for (const char* marked : {"also |\n", "x = 1\n  also li|\n"}) {
        const json got = complete(dir, marked);
        EXPECT_EQ(labels(got), (std::vector<std::string>{"lib", "shapes"})) << marked;
        EXPECT_EQ(got["items"][0]["kind"], 17);
        EXPECT_EQ(got["items"][0]["detail"], "lib.ZVEX");
    }
}

TEST(Completion, WorksWhileTheDocumentIsBroken) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    // An unclosed call while typing makes the splitter refuse the whole text.
    const std::string broken = program + "y = clamp(1, \n";
    for (const char* tail : {"|\n", "c.|\n"}) {
        SCOPED_TRACE(tail);
        const json got = complete(dir, broken + tail);
        const auto names = labels(got);
        EXPECT_TRUE(holds(names, std::string(tail) == "|\n" ? "clamp" : "step")) << got.dump();
        EXPECT_TRUE(holds(names, std::string(tail) == "|\n" ? "square" : "count"));
    }
}

TEST(Completion, AHugeListIsCutToTheTypedCharactersAndMarkedIncomplete) {
    scratch dir;
    std::string text;
    for (int i = 0; i < 3000; ++i) text.append("n").append(std::to_string(i)).append(" = 0\n");
    const json few = complete(dir, text + "z = n2999|\n");
    EXPECT_TRUE(few["isIncomplete"].get<bool>());
    const auto names = labels(few);
    EXPECT_TRUE(holds(names, "n2999"));
    EXPECT_FALSE(holds(names, "n1"));
    // Nothing typed: the first thousand, and the client asks again as the word grows.
    const json many = complete(dir, text + "z = |\n");
    EXPECT_TRUE(many["isIncomplete"].get<bool>());
    EXPECT_EQ(many["items"].size(), 1000u);
    // At the limit (names and the four word operators) the list is whole; one more and
    // it is cut.
    for (const int count : {996, 997}) {
        std::string some;
        for (int i = 0; i < count; ++i) some.append("n").append(std::to_string(i)).append(" = 0\n");
        const json got = complete(dir, some + "z = |\n");
        EXPECT_EQ(got["isIncomplete"].get<bool>(), count == 997) << count;
        EXPECT_EQ(got["items"].size(), 1000u) << count;
    }
}

TEST(Completion, ResolveAddsDocumentation) {
    scratch dir;
    dir.write("lib.ZVEX", library);
    session s;
    s.initialize();
    s.open(dir.uri("prog.zv"), program + "\n");
    const json got = s.result("textDocument/completion", session::at(dir.uri("prog.zv"), 17, 0));
    const struct {
        const char* label;
        std::vector<std::string> pieces;
    } table[] = {
        {"clamp", {"```zv\ndef clamp(x, lo, hi)\n```", "function, defined at line 2"}},
        {"square", {"def square(v)", "defined at lib.ZVEX line 1"}},
        {"Counter", {"class Counter", "methods:\n- `step(by)`"}},
        {"Gtotal", {"Gtotal = 0", "global `total`"}},
        {"while", {"runs the body while it holds"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.label);
        const json* i = item(got, row.label);
        ASSERT_NE(i, nullptr);
        EXPECT_FALSE(i->contains("documentation"));
        const json resolved = s.result("completionItem/resolve", *i);
        EXPECT_EQ(resolved["label"], row.label);
        const std::string doc = resolved["documentation"]["value"];
        for (const std::string& piece : row.pieces) {
            EXPECT_NE(doc.find(piece), std::string::npos) << doc;
        }
    }
    // An item without data comes back as it went.
    const json plain = {{"label", "and"}, {"kind", 14}};
    EXPECT_EQ(s.result("completionItem/resolve", plain), plain);
}

// Each statement snippet, its placeholders filled with their default text, is a statement
// that compiles; every statement keyword of the compiler has one.
TEST(Completion, EveryStatementFormHasASnippetThatCompiles) {
    for (const std::string& keyword : statements) {
        SCOPED_TRACE(keyword);
        const auto& table = zvlsp::formsnippets();
        const auto found = std::find_if(table.begin(), table.end(),
                                        [&](const auto& f) { return f.keyword == keyword; });
        ASSERT_NE(found, table.end());
        std::string filled = std::regex_replace(std::string(found->snippet),
                                                std::regex(R"(\$\{\d+:([^}]*)\})"), "$1");
        filled = std::regex_replace(filled, std::regex(R"(\$\{\d+\}|\$\d)"), "");
        filled = std::regex_replace(filled, std::regex(R"(\\\$)"), "$$");
        zv::options options;
        options.readinclude = [](const std::string&) { return std::string(); };
        const zv::result r = zv::compile(filled + "\n", options);
        EXPECT_TRUE(r.ok()) << filled << ": " << r.message;
        EXPECT_TRUE(filled.starts_with(keyword)) << filled;
    }
}

struct signaturecase {
    const char* marked; // appended to the definitions
    const char* label;  // "" for none
    unsigned active;
};

TEST(SignatureHelp, ParameterListWithTheActiveParameter) {
    const std::string defs = "def clamp(x, lo, hi) {\n  return x\n}\n"
                             "class C {\n  def step(by) {\n    return by\n  }\n}\nc = %C\n";
    const signaturecase table[] = {
        {"y = clamp(|", "clamp(x, lo, hi)", 0},
        {"y = clamp(1, |", "clamp(x, lo, hi)", 1},
        {"y = clamp(1, |2)", "clamp(x, lo, hi)", 1},
        {"y = clamp(f(1, 2), |", "clamp(x, lo, hi)", 1},
        {"y = clamp(\"a,b\", 1, |", "clamp(x, lo, hi)", 2},
        {"y = clamp([1, 2], {\"k\": 1, \"j\": 2}, |", "clamp(x, lo, hi)", 2},
        {"y = clamp(1, 2, 3, |", "clamp(x, lo, hi)", 2},
        {"if ok {\n  y = clamp(1, |\n}", "clamp(x, lo, hi)", 1},
        {"c.step(|", "step(by)", 0},
        {"y = nosuch(1, |", "", 0},
        {"y = clamp(1)|", "", 0},
        {"y = \"clamp(1, |", "", 0},
        {"y = |", "", 0},
    };
    for (const signaturecase& c : table) {
        SCOPED_TRACE(c.marked);
        session s;
        s.initialize();
        const cursor at = mark(defs + c.marked + "\n");
        s.open("file:///w/s.zv", at.text);
        const json help = s.result("textDocument/signatureHelp",
                                   session::at("file:///w/s.zv", at.line, at.character));
        if (std::string(c.label).empty()) {
            EXPECT_TRUE(help.is_null()) << help.dump();
            continue;
        }
        ASSERT_TRUE(help.is_object());
        ASSERT_EQ(help["signatures"].size(), 1u);
        const json& sig = help["signatures"][0];
        EXPECT_EQ(sig["label"], c.label);
        EXPECT_EQ(help["activeParameter"], c.active);
        // Each parameter's label range cuts its name out of the signature's label.
        const std::string label = sig["label"];
        for (const json& p : sig["parameters"]) {
            const std::string name = label.substr(
                p["label"][0], p["label"][1].get<std::size_t>() - p["label"][0].get<std::size_t>());
            EXPECT_TRUE(name == "x" || name == "lo" || name == "hi" || name == "by") << name;
        }
    }
}

} // namespace
