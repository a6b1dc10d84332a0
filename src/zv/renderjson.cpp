// The machine-readable forms of diagnostics: the JSON document of --format=json and the
// SARIF 2.1.0 log of --format=sarif (one run, the rules used, one result per diagnostic).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "jsontext.h"
#include "render.h"

namespace zvtool {

namespace {

using nlohmann::json;

const char* levelname(zv::severity s) {
    return s == zv::severity::error ? "error" : "warning";
}

std::string filename(const zv::diagnostic& d, const std::string& program) {
    return d.where.file.empty() ? program : d.where.file;
}

// What each code that is no warning's name stands for.
const std::map<std::string, std::string> errorcodes = {
    {"compile-error", "The program cannot be compiled"},
    {"unclosed", "A brace, parenthesis, list or string is still open at the end of the text"},
    {"stray-brace", "A '}' inside brackets closes no brace"},
    {"stray-parenthesis", "A ')' inside brackets closes no parenthesis"},
    {"stray-bracket", "A ']' inside brackets closes no list"},
};

// A path as a URI reference: unreserved characters and '/' as they are, the rest escaped;
// an absolute path becomes a file URI.
std::string pathuri(const std::string& path) {
    static const std::string keep = "-._~/";
    std::string out = path.starts_with('/') ? "file://" : "";
    for (unsigned char c : path) {
        if (std::isalnum(c) || keep.find(static_cast<char>(c)) != keep.npos) {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

json artifact(const std::string& path) {
    json a = {{"uri", pathuri(path)}};
    if (!path.starts_with('/')) a["uriBaseId"] = "%SRCROOT%";
    return a;
}

json region(const zv::location& at) {
    return {{"startLine", at.line},    {"startColumn", at.column},
            {"endLine", at.endline},   {"endColumn", at.endcolumn},
            {"byteOffset", at.offset}, {"byteLength", at.endoffset - at.offset}};
}

// Code scanning wants a line for every result: an unlocated one points at the file's start.
json physical(const zv::diagnostic& d, const std::string& program) {
    json place = {{"artifactLocation", artifact(filename(d, program))}};
    place["region"] = d.located ? region(d.where) : json{{"startLine", 1}};
    return place;
}

json includesteps(const std::vector<zv::location>& chain) {
    json steps = json::array();
    for (const auto& at : chain)
        steps.push_back({{"id", steps.size()},
                         {"message", {{"text", "included from here"}}},
                         {"physicalLocation",
                          {{"artifactLocation", artifact(at.file)},
                           {"region", {{"startLine", at.line}, {"startColumn", at.column}}}}}});
    return steps;
}

// The rules: every warning, then every other code the diagnostics use, each once.
json rules(const std::vector<report>& reports, std::map<std::string, std::size_t>& index) {
    json out = json::array();
    auto add = [&](const std::string& id, const std::string& text) {
        if (index.count(id)) return;
        index[id] = out.size();
        out.push_back({{"id", id}, {"shortDescription", {{"text", text}}}});
    };
    for (const auto& w : zv::warnings()) add(w.name, w.summary);
    for (const auto& r : reports)
        for (const auto& d : r.diagnostics) {
            auto known = errorcodes.find(d.code);
            add(d.code, known == errorcodes.end() ? d.code : known->second);
        }
    return out;
}

json result(const zv::diagnostic& d, const std::string& program, std::size_t ruleindex) {
    std::string text = d.message;
    for (const auto& note : d.notes) text += "\nNote: " + note;
    json out = {{"ruleId", d.code},
                {"ruleIndex", ruleindex},
                {"level", levelname(d.level)},
                {"message", {{"text", text}}},
                {"locations", json::array({{{"physicalLocation", physical(d, program)}}})}};
    if (!d.includedfrom.empty()) out["relatedLocations"] = includesteps(d.includedfrom);
    return out;
}

} // namespace

json diagnosticjson(const zv::diagnostic& d, const std::string& program) {
    json out = {{"file", filename(d, program)}};
    if (d.located) {
        const auto& at = d.where;
        out.update({{"line", at.line},
                    {"column", at.column},
                    {"endLine", at.endline},
                    {"endColumn", at.endcolumn},
                    {"offset", at.offset},
                    {"endOffset", at.endoffset}});
    }
    json chain = json::array();
    for (const auto& at : d.includedfrom)
        chain.push_back({{"file", at.file}, {"line", at.line}, {"column", at.column}});
    out.update({{"severity", levelname(d.level)},
                {"code", d.code},
                {"message", d.message},
                {"notes", d.notes},
                {"includedFrom", chain}});
    return out;
}

json renderjson(const std::vector<report>& reports) {
    json list = json::array();
    for (const auto& r : reports)
        for (const auto& d : r.diagnostics) list.push_back(diagnosticjson(d, r.program));
    const tally t = count(reports);
    json document = {{"version", zv::version()},
                     {"diagnostics", list},
                     {"errors", t.errors},
                     {"warnings", t.warnings}};
    cleanstrings(document);
    return document;
}

json rendersarif(const std::vector<report>& reports) {
    std::map<std::string, std::size_t> index;
    json driver = {{"name", "zv"}, {"version", zv::version()}, {"rules", rules(reports, index)}};
    json results = json::array();
    for (const auto& r : reports)
        for (const auto& d : r.diagnostics) results.push_back(result(d, r.program, index[d.code]));
    json run = {
        {"tool", {{"driver", driver}}}, {"columnKind", "unicodeCodePoints"}, {"results", results}};
    json document = {{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
                     {"version", "2.1.0"},
                     {"runs", json::array({run})}};
    cleanstrings(document);
    return document;
}

} // namespace zvtool
