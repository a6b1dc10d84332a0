// JSON and SARIF checked field by field against the text form of the same run.
#include "formatcheck.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

#include "utf8.h"
#include "zv.hpp"

namespace zvtest {

namespace {

using nlohmann::json;

// A `FILE:LINE:COLUMN: error: MESSAGE [-Wcode]` line of the text form (line 0: unlocated).
struct headline {
    std::string file, severity, message, code;
    unsigned line = 0, column = 0;
};

std::vector<headline> headlines(const std::string& text) {
    static const std::regex located(R"(^(.+?):(\d+):(\d+): (error|warning): (.*)$)");
    static const std::regex unlocated(R"(^([^ ].*?): (error|warning): (.*)$)");
    static const std::regex option(R"(^(.*) \[-W(?:error=)?([a-z-]+)\]$)");
    std::vector<headline> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        std::smatch m, o;
        headline h;
        if (std::regex_match(l, m, located)) {
            h = {m[1], m[4], m[5], "", unsigned(std::stoul(m[2])), unsigned(std::stoul(m[3]))};
        } else if (std::regex_match(l, m, unlocated)) {
            h = {m[1], m[2], m[3], "", 0, 0};
        } else {
            continue;
        }
        if (std::regex_match(h.message, o, option)) h.message = o[1], h.code = o[2];
        out.push_back(h);
    }
    return out;
}

// Line and column (characters, as utf8::step counts them) of a byte offset.
std::pair<unsigned, unsigned> position(const std::string& bytes, std::uint64_t offset) {
    const std::string_view before = std::string_view(bytes).substr(0, offset);
    const std::size_t linestart = before.rfind('\n') + 1; // npos + 1 == 0
    return {unsigned(std::count(before.begin(), before.end(), '\n')) + 1,
            unsigned(utf8::columns(before.substr(linestart))) + 1};
}

std::string lineof(const std::string& bytes, unsigned line) {
    std::istringstream in(bytes);
    std::string l;
    for (unsigned n = 0; n < line && std::getline(in, l);) ++n;
    return l;
}

std::string percentdecoded(const std::string& uri) {
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        const bool escape = uri[i] == '%' && i + 2 < uri.size();
        out += escape ? static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16)) : uri[i];
        if (escape) i += 2;
    }
    return out;
}

json rerun(const fs::path& dir, invocation how, const char* format, int status) {
    how.args.insert(how.args.begin() + 1, std::string("--format=") + format);
    const runresult r = runzv(dir, how);
    EXPECT_EQ(r.status, status) << format;
    EXPECT_EQ(r.err, "") << format << " writes nothing on standard error";
    return json::parse(r.out, nullptr, false);
}

// The byte range must cover exactly what line and column say, in the file as stored.
void checkoffsets(const fs::path& dir, const json& d) {
    const fs::path file = dir / d["file"].get<std::string>();
    if (!d.contains("offset") || !fs::exists(file)) return;
    const std::string bytes = slurp(file);
    using place = std::pair<unsigned, unsigned>;
    EXPECT_EQ(position(bytes, d["offset"]), (place{d["line"], d["column"]})) << d.dump();
    EXPECT_EQ(position(bytes, d["endOffset"]), (place{d["endLine"], d["endColumn"]})) << d.dump();
    EXPECT_LE(d["offset"].get<std::uint64_t>(), d["endOffset"].get<std::uint64_t>());
}

void checkdiagnostic(const fs::path& dir, const json& d, const headline& h) {
    // JSON holds the text form's words with every stray byte as U+FFFD.
    EXPECT_EQ(d["file"], utf8::clean(h.file));
    EXPECT_EQ(d["severity"], h.severity);
    EXPECT_EQ(d["message"], utf8::clean(h.message));
    if (!h.code.empty()) { EXPECT_EQ(d["code"], h.code); }
    EXPECT_TRUE(d["code"].is_string() && d["notes"].is_array());
    EXPECT_EQ(d.contains("line"), h.line > 0);
    if (h.line > 0) {
        EXPECT_EQ(d["line"], h.line);
        EXPECT_EQ(d["column"], h.column);
    }
    checkoffsets(dir, d);
    for (const auto& step : d["includedFrom"]) {
        const std::string including = slurp(dir / step["file"].get<std::string>());
        EXPECT_NE(lineof(including, step["line"]).find("also"), std::string::npos)
            << "included from a line without 'also': " << step.dump();
    }
}

json checkjson(const fs::path& dir, const invocation& how, const runresult& text) {
    const json doc = rerun(dir, how, "json", text.status);
    const auto lines = headlines(text.out);
    if (!doc.is_object() || !doc["diagnostics"].is_array()) {
        ADD_FAILURE() << "not a JSON document with diagnostics";
        return doc;
    }
    EXPECT_EQ(doc["version"], zv::version());
    const auto& list = doc["diagnostics"];
    EXPECT_EQ(list.size(), lines.size()) << list.dump(2);
    for (std::size_t i = 0; i < std::min(list.size(), lines.size()); ++i)
        checkdiagnostic(dir, list[i], lines[i]);
    const auto counted = [&](const char* s) {
        return std::count_if(lines.begin(), lines.end(), [&](auto& h) { return h.severity == s; });
    };
    EXPECT_EQ(doc["errors"], counted("error"));
    EXPECT_EQ(doc["warnings"], counted("warning"));
    return doc;
}

void checkrules(const json& rules) {
    std::set<std::string> ids;
    for (const auto& rule : rules) {
        EXPECT_TRUE(ids.insert(rule["id"].get<std::string>()).second) << "rule twice";
        EXPECT_FALSE(rule["shortDescription"]["text"].get<std::string>().empty());
    }
    for (const auto& w : zv::warnings()) EXPECT_TRUE(ids.count(w.name)) << w.name;
}

void checkregion(const json& region, const json& d) {
    EXPECT_EQ(region["startLine"], d.value("line", 1u));
    if (!d.contains("line")) return;
    EXPECT_EQ(region["startColumn"], d["column"]);
    EXPECT_EQ(region["endLine"], d["endLine"]);
    EXPECT_EQ(region["endColumn"], d["endColumn"]);
    EXPECT_EQ(region["byteOffset"], d["offset"]);
    EXPECT_EQ(region["byteLength"], d["endOffset"].get<int>() - d["offset"].get<int>());
}

void checkresult(const json& result, const json& rules, const json& d) {
    EXPECT_EQ(result["ruleId"], d["code"]);
    EXPECT_EQ(rules.at(result["ruleIndex"].get<std::size_t>())["id"], d["code"]);
    EXPECT_EQ(result["level"], d["severity"]);
    EXPECT_TRUE(
        result["message"]["text"].get<std::string>().starts_with(d["message"].get<std::string>()));
    const json& physical = result["locations"].at(0)["physicalLocation"];
    EXPECT_EQ(utf8::clean(percentdecoded(physical["artifactLocation"]["uri"])), d["file"]);
    checkregion(physical["region"], d);
    const json related = result.value("relatedLocations", json::array());
    ASSERT_EQ(related.size(), d["includedFrom"].size());
    for (std::size_t i = 0; i < related.size(); ++i) {
        EXPECT_EQ(related[i]["message"]["text"], "included from here");
        const json& at = related[i]["physicalLocation"];
        EXPECT_EQ(utf8::clean(percentdecoded(at["artifactLocation"]["uri"])),
                  d["includedFrom"][i]["file"]);
        EXPECT_EQ(at["region"]["startLine"], d["includedFrom"][i]["line"]);
    }
}

void checksarif(const fs::path& dir, const invocation& how, const runresult& text,
                const json& reference) {
    const json log = rerun(dir, how, "sarif", text.status);
    ASSERT_TRUE(log.is_object()) << "not a JSON document";
    EXPECT_EQ(log["$schema"], "https://json.schemastore.org/sarif-2.1.0.json");
    EXPECT_EQ(log["version"], "2.1.0");
    ASSERT_EQ(log["runs"].size(), 1u);
    const json& run = log["runs"][0];
    EXPECT_EQ(run["columnKind"], "unicodeCodePoints");
    EXPECT_EQ(run["tool"]["driver"]["name"], "zv");
    EXPECT_EQ(run["tool"]["driver"]["version"], zv::version());
    const json& rules = run["tool"]["driver"]["rules"];
    checkrules(rules);
    const json& expected = reference["diagnostics"];
    ASSERT_EQ(run["results"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        checkresult(run["results"][i], rules, expected[i]);
}

} // namespace

void checkformats(const fs::path& dir, const invocation& how, const runresult& text) {
    const json reference = checkjson(dir, how, text);
    if (reference.is_object()) checksarif(dir, how, text, reference);
}

} // namespace zvtest
