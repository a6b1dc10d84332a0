// What the end-to-end suites share: scratch directories, whole-file reads and writes, one
// way to run a tool (in a directory, with input, environment, a terminal if asked, limits
// and a deadline, reporting how it ended), and one reader of case files.
#pragma once

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zvtest {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed on destruction unless
// `keep` was set (tests keep it when they fail, for a look).
struct scratchdir {
    explicit scratchdir(const std::string& prefix = "zvtest");
    ~scratchdir();
    scratchdir(const scratchdir&) = delete;
    scratchdir& operator=(const scratchdir&) = delete;
    fs::path path;
    bool keep = false;
};

std::string slurp(const fs::path& p);
// Writes `content` to `p`, creating the directories on the way.
void spit(const fs::path& p, const std::string& content);
// Every occurrence of `from` in `text` replaced by `to`.
std::string replaceall(std::string text, const std::string& from, const std::string& to);

// A run of a program.
struct process {
    std::vector<std::string> argv; // argv[0]: a path, or a name looked up on PATH
    fs::path dir;                  // working directory; empty: the test's own
    std::string input;             // standard input
    std::vector<std::string> env;  // NAME=VALUE added to the environment
    bool tty = false;              // standard output on a terminal (raw pseudo-terminal)
    bool discardout = false;       // standard output to /dev/null (huge outputs)
    unsigned seconds = 60;         // the deadline: killed with SIGKILL after it
    rlim_t filelimit = 0;          // non-zero: RLIMIT_FSIZE, with SIGXFSZ ignored
    rlim_t memorylimit = 0;        // non-zero: RLIMIT_AS
    rlim_t stacklimit = 0;         // non-zero: RLIMIT_STACK (RLIM_INFINITY: unlimited)
};

struct runresult {
    int status = -1;       // the exit status; 128 + N after signal N
    int signal = 0;        // the signal that ended it, 0 when it exited
    bool timedout = false; // killed at the deadline
    std::string out, err;
    double seconds = 0; // how long it ran
};

runresult run(const process& p);

// A case file: text before the first case is a comment; a case starts with a line
// `=== NAME` and is made of sections, each opened by `--- KIND WORD...` and running to the
// next `---` or `===` line. Trailing empty lines of a section are dropped.
struct section {
    std::string kind;
    std::vector<std::string> words;
    std::vector<std::string> lines;
    // The lines, each ending in a line feed.
    std::string body() const;
};
struct casetext {
    std::string name; // FILESTEM_NAME, every character other than a letter or digit as '_'
    std::vector<section> sections;
};
std::vector<casetext> readcases(const std::string& text, const std::string& filestem);
// Every case of the `*.case` files of `dir`, in the order of the file names.
std::vector<casetext> readcasedir(const fs::path& dir);
// The program texts of those cases (their `source` and `file` sections written as text,
// not as hex), each with its case's name.
struct casesource {
    std::string name;
    std::string text;
};
std::vector<casesource> readcasesources(const fs::path& dir);

} // namespace zvtest
