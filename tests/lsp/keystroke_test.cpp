// A line typed key by key into the middle of each example: at every state of the text the
// editor features must keep working on the rest of the document. Symbols list every
// definition, definition jumps from names outside the typed line, hover answers on the
// other statements, and the semantic tokens of every other line are those of the file
// before the edit.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "session.h"

namespace {

using lsptest::json;
using lsptest::scratch;
using lsptest::session;

// The line typed into each example, as a user would write it.
constexpr std::string_view typed = "total = clamp(sum(numbers), 0, 10)";

std::string readfile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> linesof(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Every symbol's name with its nesting, flattened: "Account.open".
void flatten(const json& symbols, const std::string& prefix, std::set<std::string>& out) {
    for (const json& s : symbols) {
        const std::string name = prefix + s["name"].get<std::string>();
        out.insert(name);
        if (s.contains("children")) flatten(s["children"], name + ".", out);
    }
}

// Semantic tokens by line: line -> the line's tokens as (character, length, type, modifiers).
std::map<unsigned, std::vector<std::array<unsigned, 4>>> tokensbyline(const json& data) {
    std::map<unsigned, std::vector<std::array<unsigned, 4>>> out;
    unsigned line = 0, character = 0;
    for (std::size_t i = 0; i + 5 <= data.size(); i += 5) {
        const unsigned dl = data[i], dc = data[i + 1];
        character = dl ? dc : character + dc;
        line += dl;
        out[line].push_back({character, data[i + 2].get<unsigned>(), data[i + 3].get<unsigned>(),
                             data[i + 4].get<unsigned>()});
    }
    return out;
}

// A use of a defined name outside its definition: line, character, and the line of the
// definition it must lead to.
struct use {
    unsigned line, character, defline;
};

std::vector<use> usesof(const std::vector<std::string>& lines, const json& symbols) {
    std::vector<use> out;
    for (const json& s : symbols) {
        const std::string name = s["name"];
        const unsigned defline = s["selectionRange"]["start"]["line"];
        for (unsigned l = 0; l < lines.size(); ++l) {
            if (l == defline) continue;
            const std::size_t at = lines[l].find(name + "(");
            if (at == std::string::npos) continue;
            const bool starts =
                at == 0 || std::string(" (=,+-*/[").find(lines[l][at - 1]) != std::string::npos;
            if (!starts) continue;
            out.push_back({l, static_cast<unsigned>(at + 1), defline});
            break;
        }
    }
    return out;
}

TEST(Keystrokes, EveryStateKeepsTheRestOfTheDocument) {
    const std::filesystem::path examples = ZV_EXAMPLES_DIR;
    scratch dir;
    for (const auto& entry : std::filesystem::directory_iterator(examples)) {
        dir.write(entry.path().filename().string(), readfile(entry.path()));
    }
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(examples)) {
        if (entry.path().extension() != ".zv") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::string original = readfile(entry.path());
        const std::vector<std::string> lines = linesof(original);
        session s;
        s.initialize();
        const std::string uri = dir.uri(name);
        s.open(uri, original);
        const json doc = {{"textDocument", {{"uri", uri}}}};

        // What the file gives before the edit.
        const json symbols = s.result("textDocument/documentSymbol", doc);
        std::set<std::string> defined;
        flatten(symbols, "", defined);
        ASSERT_FALSE(defined.empty());
        const std::vector<use> uses = usesof(lines, symbols);
        const auto tokens = tokensbyline(s.result("textDocument/semanticTokens/full", doc)["data"]);
        std::vector<std::pair<unsigned, unsigned>> hovered; // statements with a hover
        for (unsigned l = 0; l < lines.size(); ++l) {
            const std::size_t first = lines[l].find_first_not_of(' ');
            if (first == std::string::npos || lines[l][first] == '}') continue;
            if (!s.result("textDocument/hover", session::at(uri, l, first)).is_null())
                hovered.emplace_back(l, static_cast<unsigned>(first));
        }
        ASSERT_GE(hovered.size(), 3u);

        // A new line in the middle, indented as the line it goes before, then the keys.
        const unsigned at = static_cast<unsigned>(lines.size() / 2);
        const std::size_t indent = lines[at].find_first_not_of(' ');
        const std::string prefix(indent == std::string::npos ? 0 : indent, ' ');
        int version = 1;
        const auto insert = [&](unsigned character, const std::string& text) {
            const json pos = {{"line", at}, {"character", character}};
            s.notify("textDocument/didChange",
                     {{"textDocument", {{"uri", uri}, {"version", ++version}}},
                      {"contentChanges",
                       {{{"range", {{"start", pos}, {"end", pos}}}, {"text", text}}}}});
        };
        insert(0, prefix + "\n");
        const auto shifted = [&](unsigned l) { return l >= at ? l + 1 : l; };
        for (std::size_t typedsofar = 0; typedsofar <= typed.size(); ++typedsofar) {
            if (typedsofar > 0) {
                insert(static_cast<unsigned>(prefix.size() + typedsofar - 1),
                       std::string(1, typed[typedsofar - 1]));
            }
            const std::string state(typed.substr(0, typedsofar));
            SCOPED_TRACE("typed so far: " + state);
            ++checked;

            std::set<std::string> now;
            flatten(s.result("textDocument/documentSymbol", doc), "", now);
            for (const std::string& d : defined) EXPECT_TRUE(now.count(d)) << d;

            for (const use& u : uses) {
                const json target = s.result("textDocument/definition",
                                             session::at(uri, shifted(u.line), u.character));
                ASSERT_TRUE(target.is_object()) << "definition from line " << u.line;
                EXPECT_EQ(target["range"]["start"]["line"], shifted(u.defline));
            }

            for (const auto& [l, c] : hovered) {
                EXPECT_FALSE(
                    s.result("textDocument/hover", session::at(uri, shifted(l), c)).is_null())
                    << "hover on line " << l;
            }

            const auto after =
                tokensbyline(s.result("textDocument/semanticTokens/full", doc)["data"]);
            for (const auto& [l, list] : tokens) {
                const auto found = after.find(shifted(l));
                ASSERT_NE(found, after.end()) << "no tokens on line " << l;
                EXPECT_EQ(found->second, list) << "tokens of line " << l;
            }
        }
    }
    EXPECT_GE(checked, 4 * static_cast<int>(typed.size()));
}

} // namespace
