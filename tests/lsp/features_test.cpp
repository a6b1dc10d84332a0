// The features on real programs: diagnostics (own, included, missing includes, edits),
// document symbols, hover listings, definitions, folding ranges and semantic tokens.
#include "session.h"

namespace {

using lsptest::json;
using lsptest::scratch;
using lsptest::session;

// "line:character-line:character" of an LSP range.
std::string span(const json& range) {
    const auto pos = [](const json& p) {
        return std::to_string(p["line"].get<int>()) + ":" +
               std::to_string(p["character"].get<int>());
    };
    return pos(range["start"]) + "-" + pos(range["end"]);
}

struct diagnosed {
    const char* name;
    std::string text;
    std::vector<std::string> expected; // "severity code span message"
};

std::vector<std::string> summarise(const json& diagnostics) {
    std::vector<std::string> out;
    for (const json& d : diagnostics) {
        out.push_back(std::to_string(d["severity"].get<int>()) + " " +
                      d["code"].get<std::string>() + " " + span(d["range"]) + " " +
                      d["message"].get<std::string>());
        EXPECT_EQ(d["source"], "zv");
    }
    return out;
}

TEST(Diagnostics, ErrorsAndWarningsOfTheDocument) {
    const diagnosed table[] = {
        {"clean", "x = 1\n", {}},
        {"compile error",
         "x = 1\ny = a+-b\n",
         {"1 unknown-operator 1:5-1:7 Unknown operator: '+-'"}},
        {"after a two-byte character",
         "s = \"\xC3\xA9\"\ny = a+\n",
         {"1 operator-without-operand 1:5-1:6 handleexpr: operator without operand: '+'"}},
        {"warning and then error",
         "x = f(1,,2)\ny = a+-b\n",
         {"2 empty-element 0:8-0:9 empty element dropped",
          "1 unknown-operator 1:5-1:7 Unknown operator: '+-'"}},
        {"unclosed", "if a {\n  go()\n", {"1 unclosed 0:5-0:6"}},
        {"CR LF line ends", "x = 1\r\ny = 2.55\r\n", {"2 decimal-digits 1:4-1:8"}},
    };
    for (const diagnosed& d : table) {
        SCOPED_TRACE(d.name);
        session s;
        s.initialize();
        s.open("file:///w/a.zv", d.text);
        const auto got = summarise(s.diagnostics("file:///w/a.zv"));
        ASSERT_EQ(got.size(), d.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i].starts_with(d.expected[i])) << got[i];
    }
}

// The compiler's notes on the first diagnostic of `text`.
std::vector<std::string> notesof(const std::string& text) {
    zv::options options;
    options.readinclude = [](const std::string&) { return std::nullopt; };
    const zv::result r = zv::compile(text, options);
    return r.diagnostics.empty() ? std::vector<std::string>{} : r.diagnostics[0].notes;
}

TEST(Diagnostics, NotesBecomeRelatedInformation) {
    session s;
    s.initialize();
    for (const std::string text : {"y = a+\n", "x = a+-1\n", "if a {\n"}) {
        s.open("file:///w/a.zv", text);
        const json d = s.diagnostics("file:///w/a.zv")[0];
        const auto notes = notesof(text);
        ASSERT_FALSE(notes.empty()) << text;
        ASSERT_EQ(d["relatedInformation"].size(), notes.size());
        const std::string message = d["message"];
        std::size_t at = message.find('\n');
        ASSERT_NE(at, std::string::npos) << message;
        for (const std::string& note : notes) {
            EXPECT_EQ(message.substr(at, note.size() + 1), "\n" + note) << message;
            at += note.size() + 1;
        }
        EXPECT_EQ(at, message.size());
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(d["relatedInformation"][i]["message"], notes[i]);
            EXPECT_EQ(d["relatedInformation"][i]["location"]["uri"], "file:///w/a.zv");
            EXPECT_EQ(d["relatedInformation"][i]["location"]["range"], d["range"]);
        }
    }
}

// Writes the included `files` into `dir` and opens `program` as prog.zv there; its URI.
std::string openwith(session& s, const scratch& dir,
                     std::initializer_list<std::pair<std::string, std::string>> files,
                     const std::string& program) {
    for (const auto& [name, text] : files) dir.write(name, text);
    s.initialize();
    const std::string uri = dir.uri("prog.zv");
    s.open(uri, program);
    return uri;
}

TEST(Diagnostics, IncludedFilesShowOnTheAlsoStatement) {
    scratch dir;
    session s;
    const std::string uri = openwith(
        s, dir,
        {{"inner.ZVEX", "z = 1\nq = 3+\n"}, {"outer.ZVEX", "def g() {return 2}\nalso inner\n"}},
        "x = 1\n  also outer\n");
    const json d = s.diagnostics(uri);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(span(d[0]["range"]), "1:2-1:12");
    // The plain-word note is in the message too, for editors that show only the message.
    EXPECT_EQ(d[0]["message"], "inner.ZVEX: handleexpr: operator without operand: '+'\n" +
                                   notesof("q = 3+\n").at(0));
    // The place in the included file, then the chain of also statements, then the note.
    const json& related = d[0]["relatedInformation"];
    ASSERT_EQ(related.size(), 3 + notesof("q = 3+\n").size());
    EXPECT_EQ(related[0]["location"]["uri"], dir.uri("inner.ZVEX"));
    EXPECT_EQ(span(related[0]["location"]["range"]), "1:5-1:6");
    EXPECT_EQ(related[1]["location"]["uri"], dir.uri("outer.ZVEX"));
    EXPECT_EQ(span(related[1]["location"]["range"]), "1:0-1:10");
    EXPECT_EQ(related[2]["location"]["uri"], uri);
    EXPECT_EQ(related[3]["message"], notesof("q = 3+\n").at(0));

    // A missing include is an error on its also statement.
    s.open(dir.uri("other.zv"), "also nosuch\n");
    const json missing = s.diagnostics(dir.uri("other.zv"));
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(span(missing[0]["range"]), "0:0-0:11");
    EXPECT_EQ(missing[0]["message"], "Could not open file with name: nosuch.ZVEX");
}

TEST(Diagnostics, OpenIncludedFileIsReadFromTheEditor) {
    scratch dir;
    dir.write("lib.ZVEX", "ok = 1\n");
    session s;
    s.initialize();
    const std::string prog = dir.uri("prog.zv");
    s.open(prog, "also lib\n");
    EXPECT_TRUE(s.diagnostics(prog).empty());
    // Opening the included file with unsaved broken text recompiles its includer.
    s.open(dir.uri("lib.ZVEX"), "ok = 1+\n");
    ASSERT_EQ(s.diagnostics(prog).size(), 1u);
    EXPECT_TRUE(s.diagnostics(prog)[0]["message"].get<std::string>().starts_with("lib.ZVEX: "));
    // Closing it goes back to the file on disk.
    s.notify("textDocument/didClose", {{"textDocument", {{"uri", dir.uri("lib.ZVEX")}}}});
    EXPECT_TRUE(s.diagnostics(prog).empty());
    EXPECT_TRUE(s.diagnostics(dir.uri("lib.ZVEX")).empty());
}

struct change {
    json edit; // one contentChanges entry
    std::string expectedtext;
    std::size_t diagnostics;
};

TEST(Diagnostics, ChangesAreAppliedAndRecompiled) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/c.zv";
    s.open(uri, "e = \"\xF0\x9F\x98\x80\"\nx = 1\n");
    const auto range = [](int l1, int c1, int l2, int c2) {
        return json{{"start", {{"line", l1}, {"character", c1}}},
                    {"end", {{"line", l2}, {"character", c2}}}};
    };
    // Each step builds on the one before; UTF-16 columns count the emoji as two.
    const change steps[] = {
        {{{"range", range(0, 8, 0, 8)}, {"text", "+-"}}, "e = \"\xF0\x9F\x98\x80\"+-\nx = 1\n", 1},
        {{{"range", range(0, 8, 0, 10)}, {"text", ""}}, "e = \"\xF0\x9F\x98\x80\"\nx = 1\n", 0},
        {{{"range", range(1, 5, 1, 5)}, {"text", "\ny = (a + b)"}},
         "e = \"\xF0\x9F\x98\x80\"\nx = 1\ny = (a + b)\n",
         0},
        {{{"range", range(2, 9, 3, 0)}, {"text", ""}},
         "e = \"\xF0\x9F\x98\x80\"\nx = 1\ny = (a + ",
         1},
        {{{"text", "whole = 1\n"}}, "whole = 1\n", 0},
    };
    int version = 1;
    for (const change& c : steps) {
        s.notify("textDocument/didChange",
                 {{"textDocument", {{"uri", uri}, {"version", ++version}}},
                  {"contentChanges", {c.edit}}});
        EXPECT_EQ(s.diagnostics(uri).size(), c.diagnostics) << c.expectedtext;
        const zvlsp::document* doc = s.lsp.documents().find(uri);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(*doc->text, c.expectedtext);
        EXPECT_EQ(doc->version, version);
    }
}

// The last text without errors (what hover falls back on) is kept through edits without a
// copy of the text: through edits of a range, several in one message, a whole new text,
// and more edits than are kept as edits (at the limit and one past it); a text that
// compiles again without errors becomes it.
TEST(Diagnostics, TheLastTextWithoutErrorsSurvivesEdits) {
    constexpr std::size_t limit = zvlsp::document::undolimit;
    const auto range = [](int line, int character) {
        return json{{"start", {{"line", line}, {"character", character}}},
                    {"end", {{"line", line}, {"character", character}}}};
    };
    const json breaks = {{"range", range(0, 4)}, {"text", "("}};
    const json addline = {{"range", range(1, 0)}, {"text", "y = 2\n"}};
    const json wrong = {{"text", "z = (\n"}};
    const json fixed = {{"text", "z = 3\n"}};
    const struct {
        const char* name;
        std::vector<std::vector<json>> messages; // each message's changes, in order
        std::string clean;                       // the last text without errors after them
    } table[] = {
        {"one edit", {{breaks}}, "x = 1\n"},
        {"several edits, one a message", {{breaks}, {addline}, {addline}}, "x = 1\n"},
        {"several edits in one message", {{breaks, addline, addline}}, "x = 1\n"},
        {"a whole new text", {{breaks}, {wrong}, {addline}}, "x = 1\n"},
        {"fixed again", {{breaks}, {fixed}, {breaks}}, "z = 3\n"},
        {"edits up to the limit", {{breaks}, std::vector<json>(limit - 1, addline)}, "x = 1\n"},
        {"edits at the limit", {{breaks}, std::vector<json>(limit, addline)}, "x = 1\n"},
        {"edits past the limit",
         {{breaks}, std::vector<json>(limit, addline), {addline}},
         "x = 1\n"},
        {"edits far past the limit",
         {std::vector<json>(2 * limit + 1, addline), {breaks}, {addline}, {addline}},
         std::string("x = 1\n") +
             [&] {
                 std::string lines;
                 for (std::size_t i = 0; i < 2 * limit + 1; ++i) lines += "y = 2\n";
                 return lines;
             }()},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        session s;
        s.initialize();
        const std::string uri = "file:///w/clean.zv";
        s.open(uri, "x = 1\n");
        int version = 1;
        for (const std::vector<json>& changes : row.messages) {
            s.notify("textDocument/didChange",
                     {{"textDocument", {{"uri", uri}, {"version", ++version}}},
                      {"contentChanges", changes}});
        }
        const zvlsp::document* doc = s.lsp.documents().find(uri);
        ASSERT_NE(doc, nullptr);
        const std::optional<std::string> clean = doc->cleantext();
        ASSERT_TRUE(clean.has_value());
        EXPECT_EQ(*clean, row.clean);
    }
}

// Edits that arrive while more messages wait are applied at once and compiled once, in
// their newest state; a request in between is answered on the newest text.
TEST(Diagnostics, WaitingEditsAreCompiledOnceInTheirNewestState) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/q.zv";
    s.open(uri, "x = 1\n");
    const auto edit = [&](int version, const std::string& text, bool more) {
        s.lsp.handle({{"jsonrpc", "2.0"},
                      {"method", "textDocument/didChange"},
                      {"params",
                       {{"textDocument", {{"uri", uri}, {"version", version}}},
                        {"contentChanges", {{{"text", text}}}}}}},
                     more);
    };
    const auto published = [&] {
        std::vector<long long> versions;
        for (const json& m : s.sent) {
            if (m.value("method", "") == "textDocument/publishDiagnostics")
                versions.push_back(m["params"]["version"].get<long long>());
        }
        return versions;
    };
    s.sent.clear();
    edit(2, "x = a+-b\n", true);
    edit(3, "x = a+-b\ny = 2\n", true);
    EXPECT_TRUE(published().empty());
    edit(4, "x = 1\ny = 2.55\n", false);
    EXPECT_EQ(published(), std::vector<long long>{4});
    const json last = s.diagnostics(uri);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0]["code"], "decimal-digits");

    // A request while edits wait: they are compiled first, and only once.
    s.sent.clear();
    edit(5, "x = 1\n", true);
    edit(6, "x = 1\nprint(x)\n", true);
    s.lsp.handle({{"jsonrpc", "2.0"},
                  {"id", 50},
                  {"method", "textDocument/hover"},
                  {"params", session::at(uri, 1, 6)}},
                 true);
    EXPECT_EQ(published(), std::vector<long long>{6});
    ASSERT_FALSE(s.sent.empty());
    EXPECT_EQ(s.sent.back()["id"], 50);
    EXPECT_NE(s.sent.back()["result"]["contents"]["value"].get<std::string>().find("LOAD \"x\""),
              std::string::npos);
    s.sent.clear();
    s.notify("initialized"); // nothing waits any more: nothing left to compile
    EXPECT_TRUE(published().empty());

    // A document closed while its edit waits is not compiled again.
    edit(7, "x = a+-b\n", true);
    s.sent.clear();
    s.notify("textDocument/didClose", {{"textDocument", {{"uri", uri}}}});
    ASSERT_EQ(s.sent.size(), 1u);
    EXPECT_TRUE(s.sent[0]["params"]["diagnostics"].empty());
}

TEST(Symbols, DefsAndClassesAsATree) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/s.zv";
    s.open(
        uri,
        "def add(a, b) {\n  return a+b\n}\nclass Point {\n  def norm() {\n    return 0\n  }\n"
        "  class Inner {\n    def deep() {return 1}\n  }\n}\nif x {\n  def nested() {return 2}\n}\n"
        "x = 1\n");
    const json symbols =
        s.result("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}});
    // name kind range selectionRange, depth-first.
    std::vector<std::string> got;
    const std::function<void(const json&, const std::string&)> walk =
        [&](const json& list, const std::string& indent) {
            for (const json& sym : list) {
                got.push_back(indent + sym["name"].get<std::string>() + " " +
                              std::to_string(sym["kind"].get<int>()) + " " + span(sym["range"]) +
                              " " + span(sym["selectionRange"]));
                if (sym.contains("children")) walk(sym["children"], indent + "  ");
            }
        };
    walk(symbols, "");
    const std::vector<std::string> expected = {
        "add 12 0:0-2:1 0:4-0:7",       "Point 5 3:0-10:1 3:6-3:11",
        "  norm 6 4:2-6:3 4:6-4:10",    "  Inner 5 7:2-9:3 7:8-7:13",
        "    deep 6 8:4-8:25 8:8-8:12", "nested 12 12:2-12:25 12:6-12:12",
    };
    EXPECT_EQ(got, expected);
}

TEST(Symbols, FoldingRangesOfMultiLineBlocks) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/f.zv";
    s.open(uri, "if a {\n  go()\n}\nwhile b {go()}\ndef f() {\n  x = 1\n  if c {\n    y()\n  }}\n");
    const json ranges = s.result("textDocument/foldingRange", {{"textDocument", {{"uri", uri}}}});
    std::vector<std::string> got;
    for (const json& r : ranges)
        got.push_back(std::to_string(r["startLine"].get<int>()) + "-" +
                      std::to_string(r["endLine"].get<int>()));
    EXPECT_EQ(got, (std::vector<std::string>{"0-1", "4-8", "6-7"}));
}

struct hovered {
    unsigned line, character;
    std::string title;                // empty: no hover
    std::vector<std::string> listing; // substrings of the listing, in order
};

TEST(Hover, InnermostConstructAndItsByteCode) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/h.zv";
    s.open(uri, "x = 5\nif ok {go()}\n\ny = a+b\n");
    const hovered table[] = {
        {0, 4, "```zv\n5\n```", {"PUSH int 5"}},
        {0, 0, "```zv\nx\n```", {"PUSH object", "STORE \"x\"", "LOADREF \"x\""}},
        {0, 2, "```zv\nx = 5\n```\nstatement", {"PUSH int 5", "\"x\"", "\"set\""}},
        {1, 3, "```zv\nok\n```", {"LOAD \"ok\""}},
        {1, 8, "```zv\ngo()\n```", {"LOAD \"go\"", "PRECALL", "CALL"}},
        {1, 0, "statement", {"LOAD \"ok\"", "IF block", "  ", "LOAD \"go\""}},
        {3, 6, "```zv\nb\n```", {"LOAD \"b\""}},
        {2, 0, "", {}},
    };
    for (const hovered& h : table) {
        SCOPED_TRACE(std::to_string(h.line) + ":" + std::to_string(h.character));
        const json hover = s.result("textDocument/hover", session::at(uri, h.line, h.character));
        if (h.title.empty()) {
            EXPECT_TRUE(hover.is_null());
            continue;
        }
        ASSERT_TRUE(hover.is_object());
        EXPECT_EQ(hover["contents"]["kind"], "markdown");
        const std::string text = hover["contents"]["value"];
        EXPECT_NE(text.find(h.title), std::string::npos) << text;
        std::size_t at = text.find("```text");
        ASSERT_NE(at, std::string::npos);
        for (const std::string& piece : h.listing) {
            at = text.find(piece, at);
            ASSERT_NE(at, std::string::npos) << piece << " in " << text;
        }
    }
    // A program that does not compile has no byte code to show, but its names are known.
    s.open(uri, "x = a+-b\n");
    const json broken = s.result("textDocument/hover", session::at(uri, 0, 0));
    ASSERT_TRUE(broken.is_object());
    const std::string text = broken["contents"]["value"];
    EXPECT_EQ(text.find("```text"), std::string::npos) << text;
    EXPECT_NE(text.find("variable `x`, assigned at line 1"), std::string::npos) << text;
    EXPECT_TRUE(s.result("textDocument/hover", session::at(uri, 0, 2)).is_null());
}

// A document's text is shared with its compilation, hover's analysis and the outline, and
// edited in place: after each edit, hover at every column and the symbols are those of
// the same text opened afresh, through edits that break the program (hover then reads the
// last text without errors) and mend it.
TEST(Hover, EditedTextAnswersAsTheSameTextOpenedAfresh) {
    std::size_t shown = 0;
    session edited, fresh;
    edited.initialize();
    fresh.initialize();
    const std::string uri = "file:///w/shared.zv";
    const auto at = [](int line, int character) {
        return json{{"start", {{"line", line}, {"character", character}}},
                    {"end", {{"line", line}, {"character", character}}}};
    };
    edited.open(uri, "def f(a) {\n    return a*2\n}\nx = f(1)\n");
    const json edits[] = {
        {{"range", at(3, 0)}, {"text", "y = x+1\n"}}, {{"range", at(0, 0)}, {"text", "z = (\n"}},
        {{"range", at(0, 5)}, {"text", "3)"}},        {{"text", "q = \"a\\nb\"\nprint(q)\n"}},
        {{"range", at(1, 6)}, {"text", "+q"}},
    };
    int version = 1;
    for (const json& edit : edits) {
        SCOPED_TRACE(edit.dump());
        // Hover and symbols first, so that the edit finds the text shared.
        edited.result("textDocument/hover", session::at(uri, 0, 0));
        edited.result("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}});
        edited.notify(
            "textDocument/didChange",
            {{"textDocument", {{"uri", uri}, {"version", ++version}}}, {"contentChanges", {edit}}});
        const std::string text = *edited.lsp.documents().find(uri)->text;
        fresh.open(uri, text);
        EXPECT_EQ(edited.result("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}}),
                  fresh.result("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}}));
        unsigned line = 0, character = 0;
        for (const char c : text) {
            // Where the text itself has nothing to show, the edited document may show the
            // last text without errors, which the fresh one never had.
            const json place = session::at(uri, line, character);
            const json want = fresh.result("textDocument/hover", place);
            if (!want.is_null()) {
                EXPECT_EQ(edited.result("textDocument/hover", place), want)
                    << line << ":" << character << " of\n"
                    << text;
            }
            shown += want.is_null() ? 0 : 1;
            if (c == '\n') {
                ++line, character = 0;
            } else {
                ++character;
            }
        }
    }
    EXPECT_GT(shown, 40u);
}

// On a statement holding a string with escapes, every column shows the construct written
// there, not the text the compiler made from it.
TEST(Hover, ConstructsOfStatementsWithEscapes) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/e.zv";
    s.open(uri, "name = \"x\"\nprint(\"hello, \"+name+\"!\\n\")\nq = [\"a\\\"b\\\"\", 2]\n");
    const struct {
        unsigned line, character;
        std::string range, title;
    } table[] = {
        {1, 0, "1:0-1:27", "\nprint(\"hello, \"+name+"},
        {1, 8, "1:6-1:15", "\"hello, \""},
        {1, 15, "1:6-1:26", "+name+"},
        {1, 17, "1:16-1:20", "\nname\n"},
        {1, 22, "1:21-1:26", "\"!\n\""},
        {2, 6, "2:5-2:13", "\"a\"b\"\""},
        {2, 14, "2:4-2:17", "\n[\"a\"b\"\", 2]\n"},
        {2, 15, "2:15-2:16", "\n2\n"},
    };
    for (const auto& h : table) {
        SCOPED_TRACE(std::to_string(h.line) + ":" + std::to_string(h.character));
        const json hover = s.result("textDocument/hover", session::at(uri, h.line, h.character));
        ASSERT_TRUE(hover.is_object());
        EXPECT_EQ(span(hover["range"]), h.range);
        const std::string text = hover["contents"]["value"];
        EXPECT_NE(text.find(h.title), std::string::npos) << text;
    }
}

// A document with CR LF line ends hovers as the same document with LF ones: the compiler
// reads one line feed per line end, and hover places its constructs in the text as
// stored. Every column of every line, with escapes, nesting and an error on one line.
TEST(Hover, CarriageReturnsPlaceConstructsAsLineFeedsDo) {
    session s;
    s.initialize();
    const std::string lf = "name = \"x\"\nif name {\n    print(\"a\\nb\"+name)\n}\nz = (1\n"
                           "q = [\"a\\\"b\", f(2)]\n";
    std::string crlf;
    for (const char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const auto hovers = [&](const std::string& uri, const std::string& text) {
        s.open(uri, text);
        std::vector<std::string> out;
        unsigned line = 0, character = 0;
        for (const char c : lf) {
            const json hover = s.result("textDocument/hover", session::at(uri, line, character));
            out.push_back(hover.is_null() ? std::string("-")
                                          : span(hover["range"]) + " " +
                                                hover["contents"]["value"].get<std::string>());
            if (c == '\n') {
                ++line, character = 0;
            } else {
                ++character;
            }
        }
        return out;
    };
    const std::vector<std::string> want = hovers("file:///w/lf.zv", lf);
    const std::vector<std::string> got = hovers("file:///w/crlf.zv", crlf);
    ASSERT_EQ(got.size(), want.size());
    std::size_t shown = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i], want[i]) << "at byte " << i;
        shown += want[i].find("```text") != std::string::npos ? 1 : 0;
    }
    // Most columns show a construct and its byte code, the broken line's too (its names).
    EXPECT_GT(shown, want.size() / 2);
}

// While a statement is broken, hover on its unchanged part shows it as it compiled last,
// and nothing on what changed; once a whole other text is in place, nothing of the old.
TEST(Hover, LastCompilationWithoutErrorsServesTheUnchangedText) {
    session s;
    s.initialize();
    const std::string uri = "file:///w/l.zv";
    s.open(uri, "x = 1\ny = count(2)\n");
    const auto change = [&](int version, const std::string& text) {
        s.notify("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", version}}},
                                            {"contentChanges", {{{"text", text}}}}});
    };
    change(2, "x = 1\ny = count(2)+-\n");
    ASSERT_EQ(s.diagnostics(uri).size(), 1u);
    const json kept = s.result("textDocument/hover", session::at(uri, 1, 5));
    ASSERT_TRUE(kept.is_object());
    EXPECT_EQ(span(kept["range"]), "1:4-1:12");
    EXPECT_NE(kept["contents"]["value"].get<std::string>().find("LOAD \"count\""),
              std::string::npos);
    EXPECT_TRUE(s.result("textDocument/hover", session::at(uri, 1, 12)).is_null());
    // The statement that compiles now is read from the new text.
    const json now = s.result("textDocument/hover", session::at(uri, 0, 4));
    ASSERT_TRUE(now.is_object());
    EXPECT_EQ(span(now["range"]), "0:4-0:5");
    // A text that shares nothing with the last clean one gets nothing from it.
    change(3, "zz = count(2)+-\n");
    EXPECT_TRUE(s.result("textDocument/hover", session::at(uri, 0, 6)).is_null());
}

struct jump {
    unsigned line, character;
    std::string file; // "" for none
    std::string range;
};

TEST(Definition, NamesAndIncludes) {
    scratch dir;
    session s;
    const std::string uri =
        openwith(s, dir,
                 {{"lib.ZVEX", "also deeper\ndef square(x) {\n  return x*x\n}\n"},
                  {"deeper.ZVEX", "Glimit = 10\n"}},
                 "also lib\nclass Counter {\n  def step(by) {\n    @count = @count+by\n  }\n}\n"
                 "total = square(3)\nc = %Counter\nc.step(total)\nn = Glimit\nx = undefined\n");
    const jump table[] = {
        {6, 10, "lib.ZVEX", "1:0-3:1"},    // square, in the included file
        {7, 6, "prog.zv", "1:0-5:1"},      // %Counter
        {8, 3, "prog.zv", "2:2-4:3"},      // .step: the method
        {8, 9, "prog.zv", "6:0-6:17"},     // total
        {3, 15, "prog.zv", "3:4-3:22"},    // @count
        {9, 6, "deeper.ZVEX", "0:0-0:11"}, // Glimit, two includes deep
        {10, 6, "", ""},                   // undefined
        {0, 6, "lib.ZVEX", "0:0-0:0"},     // also lib: the file
        {0, 1, "lib.ZVEX", "0:0-0:0"},
    };
    for (const jump& j : table) {
        SCOPED_TRACE(std::to_string(j.line) + ":" + std::to_string(j.character));
        const json found =
            s.result("textDocument/definition", session::at(uri, j.line, j.character));
        if (j.file.empty()) {
            EXPECT_TRUE(found.is_null());
            continue;
        }
        ASSERT_TRUE(found.is_object());
        EXPECT_EQ(found["uri"], dir.uri(j.file));
        EXPECT_EQ(span(found["range"]), j.range);
    }
}

struct decoded {
    std::string text;
    std::string type;
    bool global;
};

TEST(SemanticTokens, ClassifiesAndEncodes) {
    for (const char* encoding : {"utf-16", "utf-8"}) {
        SCOPED_TRACE(encoding);
        session s;
        const json init = s.initialize({{"general", {{"positionEncodings", {encoding}}}}});
        const json types = init["capabilities"]["semanticTokensProvider"]["legend"]["tokenTypes"];
        const std::string uri = "file:///w/t.zv";
        const std::string text =
            "s = \"\xF0\x9F\x98\x80\"+Gtotal\nfor xs as x {\n  y = (not x.size and -2)\n}\n"
            "def Gf(a) {return a}\nalso lib\nm = \"two\nlines\"\n";
        s.open(uri, text);
        const json data = s.result("textDocument/semanticTokens/full",
                                   {{"textDocument", {{"uri", uri}}}})["data"];
        ASSERT_EQ(data.size() % 5, 0u);
        // Decode back to text with the document's lines.
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        const bool utf8 = std::string(encoding) == "utf-8";
        const auto bytes = [&](const std::string& line, unsigned units) {
            // The byte offset of `units` code units into `line`.
            if (utf8) return std::min<std::size_t>(units, line.size());
            std::size_t at = 0;
            for (unsigned u = 0; u < units && at < line.size();) {
                const auto c = static_cast<unsigned char>(line[at]);
                const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
                u += len == 4 ? 2 : 1;
                at += len;
            }
            return at;
        };
        std::vector<decoded> got;
        unsigned line = 0, start = 0;
        for (std::size_t i = 0; i < data.size(); i += 5) {
            const unsigned dl = data[i], ds = data[i + 1], length = data[i + 2];
            line += dl;
            start = dl == 0 ? start + ds : ds;
            const std::size_t from = bytes(lines[line], start);
            const std::size_t to = bytes(lines[line], start + length);
            got.push_back({lines[line].substr(from, to - from), types[data[i + 3].get<int>()],
                           data[i + 4] == 1});
        }
        const std::vector<decoded> expected = {
            {"s", "variable", false},
            {"=", "operator", false},
            {"\"\xF0\x9F\x98\x80\"", "string", false},
            {"+", "operator", false},
            {"Gtotal", "variable", true},
            {"for", "keyword", false},
            {"xs", "variable", false},
            {"as", "keyword", false},
            {"x", "variable", false},
            {"y", "variable", false},
            {"=", "operator", false},
            {"not", "operator", false},
            {"x", "variable", false},
            {"size", "property", false},
            {"and", "operator", false},
            {"-2", "number", false},
            {"def", "keyword", false},
            {"Gf", "function", true},
            {"a", "parameter", false},
            {"return", "keyword", false},
            {"a", "variable", false},
            {"also", "keyword", false},
            {"lib", "namespace", false},
            {"m", "variable", false},
            {"=", "operator", false},
            {"\"two", "string", false},
            {"lines\"", "string", false},
        };
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].text, expected[i].text) << i;
            EXPECT_EQ(got[i].type, expected[i].type) << got[i].text;
            EXPECT_EQ(got[i].global, expected[i].global) << got[i].text;
        }
    }
}

} // namespace
