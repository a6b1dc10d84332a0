// Runs the built zv for the tests of zv check through the shared runner.
#include "runzv.h"

namespace zvtest {

runresult runzv(const fs::path& dir, const invocation& how) {
    process p;
    p.argv = {ZV_PATH};
    p.argv.insert(p.argv.end(), how.args.begin(), how.args.end());
    p.dir = dir;
    p.input = how.input;
    p.env = how.env;
    p.tty = how.tty;
    return run(p);
}

} // namespace zvtest
