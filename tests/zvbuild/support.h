// Scratch directories, files and child processes for the tests of zv build.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace zvbuildtest {

namespace fs = std::filesystem;

struct runresult {
    int status = -1;
    std::string out, err;
};

// Runs `program` (a path, or a name looked up on PATH) with `args` in `dir`, standard input
// empty, both output streams collected whole.
runresult run(const std::string& program, const fs::path& dir,
              const std::vector<std::string>& args);

// A fresh directory under the system's temporary folder, removed on destruction unless
// `keep` was set (tests keep it when they fail, for a look).
struct scratchdir {
    scratchdir();
    ~scratchdir();
    scratchdir(const scratchdir&) = delete;
    scratchdir& operator=(const scratchdir&) = delete;
    fs::path path;
    bool keep = false;
};

std::string slurp(const fs::path& p);
// Writes `content` to `p`, creating the directories on the way.
void spit(const fs::path& p, const std::string& content);
// The names in `dir` and below it, relative to it.
std::set<std::string> listing(const fs::path& dir);
// Sets the modification time of `p` a second past that of every file beside it, so that
// build tools see it as changed whatever their timestamp resolution.
void touchlater(const fs::path& p);

} // namespace zvbuildtest
