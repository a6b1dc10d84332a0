// Cross-checks of zv check's machine-readable output: the JSON document and the SARIF log
// of a run must report the same diagnostics as its text form, with byte offsets that point
// where the lines and columns say, and with the structure code scanning requires.
#pragma once

#include "runzv.h"

namespace zvtest {

// Runs `how` again with --format=json and --format=sarif in `dir` and checks both against
// `text`, the result of the run in the text format.
void checkformats(const fs::path& dir, const invocation& how, const runresult& text);

} // namespace zvtest
