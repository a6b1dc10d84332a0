// Running tools and looking at files for the tests of zv build (the runner, directories
// and files come from tests/support).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "support.h"

namespace zvbuildtest {

namespace fs = std::filesystem;
using zvtest::runresult;
using zvtest::scratchdir;
using zvtest::slurp;
using zvtest::spit;

// Runs `program` (a path, or a name looked up on PATH) with `args` in `dir`, standard input
// empty, both output streams collected whole.
runresult run(const std::string& program, const fs::path& dir,
              const std::vector<std::string>& args);

// The names in `dir` and below it, relative to it.
std::set<std::string> listing(const fs::path& dir);
// Sets the modification time of `p` a second past that of every file beside it, so that
// build tools see it as changed whatever their timestamp resolution.
void touchlater(const fs::path& p);

} // namespace zvbuildtest
