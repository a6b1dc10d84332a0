// Rendering of diagnostics, shared by the subcommands that compile: for people, the GNU
// form `FILE:LINE:COLUMN: error: MESSAGE` with the source line and a caret under the range;
// for programs, a JSON document and SARIF 2.1.0.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "zv.hpp"

namespace zvtool {

enum class format { text, json, sarif };

// What the compiler found in one program: its name as given, its diagnostics in order,
// and the texts of the program and its included files for quoting source lines.
struct report {
    std::string program;
    std::vector<zv::diagnostic> diagnostics;
    std::vector<zv::sourceinfo> sources;
};

struct tally {
    std::size_t errors = 0, warnings = 0;
};
tally count(const std::vector<report>& reports);

// Whether `code` names a warning of zv::warnings().
bool iswarningname(std::string_view code);

// -Werror: every warning becomes an error; its code stays the warning's name, so that the
// text form can print `[-Werror=NAME]`.
void promotewarnings(report& r);

// The text form of one program's diagnostics, coloured (ANSI escapes) when `color`.
std::string rendertext(const report& r, bool color);
// "2 warnings and 1 error generated.", with a line end; empty when nothing was reported.
std::string summary(tally t);

// One diagnostic as a JSON object (the fields of `zv check --format=json`).
nlohmann::json diagnosticjson(const zv::diagnostic& d, const std::string& program);
// {"version", "diagnostics", "errors", "warnings"} for all the programs.
nlohmann::json renderjson(const std::vector<report>& reports);
// A SARIF 2.1.0 log with one run, as code-scanning services accept it.
nlohmann::json rendersarif(const std::vector<report>& reports);

} // namespace zvtool
