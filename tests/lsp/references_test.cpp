// References, document highlights, rename with prepareRename, workspace symbols and the
// hover that says what a name is, over a document and the files it includes.
#include "compiler.h"
#include "edits.h"
#include "session.h"

namespace {

using lsptest::applyedits;
using lsptest::json;
using lsptest::scratch;
using lsptest::session;

std::string span(const json& range) {
    return std::to_string(range["start"]["line"].get<int>()) + ":" +
           std::to_string(range["start"]["character"].get<int>()) + "-" +
           std::to_string(range["end"]["line"].get<int>()) + ":" +
           std::to_string(range["end"]["character"].get<int>());
}

const std::string library = "def square(v) {\n"     // 0
                            "  return v*v\n"        // 1
                            "}\n"                   // 2
                            "Glimit = square(3)\n"; // 3

const std::string program = "also lib\n"                // 0
                            "def area(v) {\n"           // 1
                            "  return square(v)\n"      // 2
                            "}\n"                       // 3
                            "v = 2\n"                   // 4
                            "big = square(v)+area(v)\n" // 5
                            "class Box {\n"             // 6
                            "  def grow(by) {\n"        // 7
                            "    @size = @size+by\n"    // 8
                            "  }\n"                     // 9
                            "}\n"                       // 10
                            "b = %Box\n"                // 11
                            "b.grow(Glimit)\n";         // 12

struct fixture {
    scratch dir;
    session s;
    std::string prog, lib;
    explicit fixture(const std::string& text = program) {
        dir.write("lib.ZVEX", library);
        prog = dir.uri("prog.zv");
        lib = dir.uri("lib.ZVEX");
        s.initialize();
        s.open(prog, text);
    }
    // "FILE line:char-line:char" of each Location, FILE "prog" or "lib".
    std::vector<std::string> places(const json& locations) const {
        std::vector<std::string> out;
        for (const json& l : locations) {
            out.push_back((l["uri"] == prog  ? "prog "
                           : l["uri"] == lib ? "lib "
                                             : "? ") +
                          span(l["range"]));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

struct refcase {
    unsigned line, character;
    std::vector<std::string> expected; // sorted, with the declarations
};

TEST(References, DefinitionsAndUsesInTheDocumentAndItsIncludes) {
    const refcase table[] = {
        // A function of the included file, used in the document and in the file itself.
        {5, 7, {"lib 0:4-0:10", "lib 3:9-3:15", "prog 2:9-2:15", "prog 5:6-5:12"}},
        // A parameter: within its function only, not the assigned `v` outside.
        {2, 16, {"prog 1:9-1:10", "prog 2:16-2:17"}},
        // The assigned `v`: not the parameters of the functions that take a `v`.
        {4, 0, {"prog 4:0-4:1", "prog 5:13-5:14", "prog 5:21-5:22"}},
        // A field, by '@' and by its assignment.
        {8, 12, {"prog 8:13-8:17", "prog 8:5-8:9"}},
        // A method, from its call through a member path.
        {12, 3, {"prog 12:2-12:6", "prog 7:6-7:10"}},
        // A global defined in the include.
        {12, 8, {"lib 3:0-3:6", "prog 12:7-12:13"}},
        // A class and the copy made of it.
        {11, 5, {"prog 11:5-11:8", "prog 6:6-6:9"}},
        // Nothing: a keyword, a number, blank space.
        {6, 2, {}},
        {4, 4, {}},
    };
    fixture f;
    for (const refcase& c : table) {
        SCOPED_TRACE(std::to_string(c.line) + ":" + std::to_string(c.character));
        json params = session::at(f.prog, c.line, c.character);
        params["context"] = {{"includeDeclaration", true}};
        EXPECT_EQ(f.places(f.s.result("textDocument/references", params)), c.expected);
    }
}

TEST(References, WithoutDeclarations) {
    fixture f;
    json params = session::at(f.prog, 5, 7);
    params["context"] = {{"includeDeclaration", false}};
    EXPECT_EQ(f.places(f.s.result("textDocument/references", params)),
              (std::vector<std::string>{"lib 3:9-3:15", "prog 2:9-2:15", "prog 5:6-5:12"}));
}

TEST(References, WhileTheDocumentIsBroken) {
    // The last line leaves a parenthesis open: the splitter refuses the whole text.
    fixture f(program + "z = square(\n");
    ASSERT_FALSE(f.s.diagnostics(f.prog).empty());
    json params = session::at(f.prog, 4, 0);
    params["context"] = {{"includeDeclaration", true}};
    EXPECT_EQ(f.places(f.s.result("textDocument/references", params)),
              (std::vector<std::string>{"prog 4:0-4:1", "prog 5:13-5:14", "prog 5:21-5:22"}));
    params = session::at(f.prog, 13, 5);
    params["context"] = {{"includeDeclaration", true}};
    EXPECT_EQ(f.places(f.s.result("textDocument/references", params)).size(), 5u);
}

TEST(DocumentHighlight, WritesAndReadsInTheDocumentOnly) {
    fixture f;
    const struct {
        unsigned line, character;
        std::vector<std::string> expected; // "kind span", in document order
    } table[] = {
        {5, 7, {"2 2:9-2:15", "2 5:6-5:12"}},
        {4, 0, {"3 4:0-4:1", "2 5:13-5:14", "2 5:21-5:22"}},
        {8, 6, {"3 8:5-8:9", "2 8:13-8:17"}},
        {1, 5, {"3 1:4-1:8", "2 5:16-5:20"}},
        {0, 0, {}},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(std::to_string(c.line) + ":" + std::to_string(c.character));
        std::vector<std::string> got;
        for (const json& h : f.s.result("textDocument/documentHighlight",
                                        session::at(f.prog, c.line, c.character))) {
            got.push_back(std::to_string(h["kind"].get<int>()) + " " + span(h["range"]));
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(Rename, PrepareGivesTheNameAndItsRange) {
    fixture f;
    const json at = f.s.result("textDocument/prepareRename", session::at(f.prog, 8, 7));
    EXPECT_EQ(at["placeholder"], "size");
    EXPECT_EQ(span(at["range"]), "8:5-8:9");
    const json global = f.s.result("textDocument/prepareRename", session::at(f.prog, 12, 9));
    EXPECT_EQ(global["placeholder"], "Glimit");
    for (const auto& [line, character] : {std::pair{6u, 1u}, {4u, 4u}, {0u, 2u}, {3u, 0u}}) {
        EXPECT_TRUE(f.s.result("textDocument/prepareRename", session::at(f.prog, line, character))
                        .is_null())
            << line << ":" << character;
    }
}

TEST(Rename, EditsEveryOccurrenceAcrossIncludes) {
    fixture f;
    json params = session::at(f.prog, 5, 7);
    params["newName"] = "sq";
    const json edit = f.s.result("textDocument/rename", params);
    ASSERT_EQ(edit["changes"].size(), 2u) << edit.dump();
    const std::string prog = applyedits(program, edit["changes"][f.prog]);
    const std::string lib = applyedits(library, edit["changes"][f.lib]);
    EXPECT_EQ(lib, "def sq(v) {\n  return v*v\n}\nGlimit = sq(3)\n");
    EXPECT_NE(prog.find("  return sq(v)\n"), std::string::npos);
    EXPECT_NE(prog.find("big = sq(v)+area(v)\n"), std::string::npos);
    EXPECT_EQ(prog.find("square"), std::string::npos);
    // The renamed program compiles to the bytes of the original with the name changed.
    const auto compiled = [](const std::string& text, const std::string& included) {
        zv::options options;
        options.readinclude = [&](const std::string&) { return included; };
        return zv::compile(text, options);
    };
    const zv::result before = compiled(program, library);
    const zv::result after = compiled(prog, lib);
    ASSERT_TRUE(before.ok() && after.ok());
    std::string renamed(before.code.begin(), before.code.end());
    for (std::size_t at = 0; (at = renamed.find("square", at)) != std::string::npos;) {
        renamed.replace(at, 6, "sq");
    }
    // Lengths of blocks change with the name; compare the code outside the blocks.
    EXPECT_EQ(renamed.size(), after.code.size());
    EXPECT_EQ(std::count(renamed.begin(), renamed.end(), 's'),
              std::count(after.code.begin(), after.code.end(), 's'));
}

TEST(Rename, AParameterOnlyInsideItsFunction) {
    fixture f;
    json params = session::at(f.prog, 1, 9);
    params["newName"] = "side";
    const json edit = f.s.result("textDocument/rename", params);
    std::string expected = program;
    expected.replace(expected.find("def area(v) {\n  return square(v)"), 32,
                     "def area(side) {\n  return square(side)");
    EXPECT_EQ(applyedits(program, edit["changes"][f.prog]), expected);
    EXPECT_FALSE(edit["changes"].contains(f.lib));
}

TEST(Rename, RefusesNamesThatAreNoNamesOrChangeTheMeaning) {
    fixture f;
    const struct {
        unsigned line, character; // the name renamed
        const char* newname;
        const char* problem; // "" when accepted
    } table[] = {
        {4, 0, "", "empty"},
        {4, 0, "2v", "digit"},
        {4, 0, "a b", "' ' cannot stand"},
        {4, 0, "a.b", "'.' cannot stand"},
        {4, 0, "@v", "'@' cannot stand"},
        {4, 0, "x+1", "'+' cannot stand"},
        {4, 0, "while", "word of the language"},
        {4, 0, "xor", "word of the language"},
        {4, 0, "Gv", "the global 'v'"},
        {12, 9, "limit", "must begin with G"},
        {12, 9, "G", "must begin with G"},
        {8, 6, "Gsize", "the global"},
        {4, 0, "G", ""},
        {4, 0, "value", ""},
        {12, 9, "Gmax", ""},
        {8, 6, "width", ""},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.newname);
        json params = session::at(f.prog, c.line, c.character);
        params["newName"] = c.newname;
        const json reply = f.s.call("textDocument/rename", params);
        if (std::string(c.problem).empty()) {
            ASSERT_TRUE(reply.contains("result")) << reply.dump();
            EXPECT_FALSE(reply["result"]["changes"].empty());
            continue;
        }
        ASSERT_TRUE(reply.contains("error")) << reply.dump();
        EXPECT_EQ(reply["error"]["code"], -32803);
        EXPECT_NE(reply["error"]["message"].get<std::string>().find(c.problem), std::string::npos)
            << reply.dump();
    }
    json none = session::at(f.prog, 6, 1);
    none["newName"] = "x";
    EXPECT_TRUE(f.s.call("textDocument/rename", none).contains("error"));
}

TEST(WorkspaceSymbols, OpenDocumentsAndTheirIncludesEachOnce) {
    fixture f;
    f.dir.write("other.zv", "");
    f.s.open(f.dir.uri("other.zv"), "also lib\nGlimit = 2\nGlimit = 3\ndef Gstart() {return "
                                    "1}\nclass Tool {\n  def use() {\n    return 0\n  }\n}\n");
    const auto symbols = [&](const std::string& query) {
        std::vector<std::string> out;
        for (const json& s : f.s.result("workspace/symbol", {{"query", query}})) {
            const std::string file = s["location"]["uri"] == f.lib    ? "lib"
                                     : s["location"]["uri"] == f.prog ? "prog"
                                                                      : "other";
            out.push_back(s["name"].get<std::string>() + " " +
                          std::to_string(s["kind"].get<int>()) + " " + file + " " +
                          s.value("containerName", ""));
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(symbols(""),
              (std::vector<std::string>{"Box 5 prog ", "Glimit 13 lib ", "Glimit 13 other ",
                                        "Gstart 12 other ", "Tool 5 other ", "area 12 prog ",
                                        "grow 6 prog Box", "square 12 lib ", "use 6 other Tool"}));
    EXPECT_EQ(symbols("sq"), (std::vector<std::string>{"square 12 lib "}));
    EXPECT_EQ(symbols("GRW"), (std::vector<std::string>{"grow 6 prog Box"}));
    EXPECT_EQ(symbols("rea"), (std::vector<std::string>{"area 12 prog "}));
    EXPECT_TRUE(symbols("zz").empty());
}

// Includes are followed through `maxscopefiles` files (the document among them): a chain of
// includes gives the names of its first 63 files, not of the 64th.
TEST(References, IncludesAreReadUpToTheLimit) {
    scratch dir;
    for (int i = 0; i < 70; ++i) {
        dir.write("lib" + std::to_string(i) + ".ZVEX",
                  "also lib" + std::to_string(i + 1) + "\nGv" + std::to_string(i) + " = 1\n");
    }
    session s;
    s.initialize();
    s.open(dir.uri("prog.zv"), "also lib0\nx = 1\n");
    const json got = s.result("textDocument/completion", session::at(dir.uri("prog.zv"), 1, 4));
    const auto names = lsptest::labels(got);
    EXPECT_TRUE(lsptest::holds(names, "Gv0"));
    EXPECT_TRUE(lsptest::holds(names, "Gv62"));
    EXPECT_FALSE(lsptest::holds(names, "Gv63"));
}

TEST(Hover, SaysWhatANameIsThenItsByteCode) {
    fixture f;
    const struct {
        unsigned line, character;
        std::vector<std::string> pieces; // in order
        bool bytecode;
    } table[] = {
        {5, 7, {"```zv\ndef square(v)\n```\nfunction, defined at lib.ZVEX line 1"}, true},
        {5, 17, {"```zv\ndef area(v)\n```\nfunction, defined at line 2"}, true},
        {2, 16, {"```zv\ndef area(v) {\n```\nparameter `v` of `area`"}, true},
        {11,
         6,
         {"```zv\nclass Box\n```\nclass, defined at line 7", "methods:\n- `grow(by)`"},
         true},
        {12, 3, {"def grow(by)", "method of class `Box`"}, true},
        {8, 7, {"@size = @size+by", "field `size` of class `Box`"}, true},
        {12, 9, {"Glimit = square(3)", "global `limit`, assigned at lib.ZVEX line 4"}, true},
        {4, 0, {"```zv\nv = 2\n```\nvariable `v`, assigned at line 5"}, true},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(std::to_string(c.line) + ":" + std::to_string(c.character));
        const json hover =
            f.s.result("textDocument/hover", session::at(f.prog, c.line, c.character));
        ASSERT_TRUE(hover.is_object());
        const std::string text = hover["contents"]["value"];
        std::size_t at = 0;
        for (const std::string& piece : c.pieces) {
            at = text.find(piece, at);
            ASSERT_NE(at, std::string::npos) << piece << " in " << text;
        }
        EXPECT_EQ(text.find("---") != std::string::npos && text.find("```text") > at, c.bytecode)
            << text;
    }
}

} // namespace
