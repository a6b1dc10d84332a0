// The parts of zv's command line whose wording comes from the library or the option
// parser: --version names the library's version, and the help lists every subcommand,
// option and warning.
#include <gtest/gtest.h>

#include "runzv.h"
#include "zv.hpp"

namespace zvtest {

namespace {

runresult zvin(const std::vector<std::string>& args) {
    scratchdir dir;
    return runzv(dir.path, {args});
}

TEST(cli, VersionNamesTheLibrary) {
    const runresult r = zvin({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("zv ") + zv::version() + "\n");
}

struct helpcase {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
};

const helpcase helpcases[] = {
    {{"--help"}, {"Usage: zv", "check", "--version"}},
    {{"check", "--help"}, {"Usage: zv check", "FILE", "-W", "-w", "--format", "--color"}},
    {{"check", "-h"}, {"Usage: zv check"}},
};

TEST(cli, HelpListsOptionsAndWarnings) {
    for (const helpcase& c : helpcases) {
        const runresult r = zvin(c.args);
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        for (const auto& m : c.mentions) EXPECT_NE(r.out.find(m), std::string::npos) << m;
    }
    const std::string check = zvin({"check", "--help"}).out;
    for (const auto& w : zv::warnings())
        EXPECT_NE(check.find(std::string(w.name) + ": " + w.summary), std::string::npos) << w.name;
}

} // namespace

} // namespace zvtest
