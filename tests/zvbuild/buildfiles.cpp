// Running tools and looking at files for the tests of zv build.
#include "buildfiles.h"

#include <chrono>

namespace zvbuildtest {

runresult run(const std::string& program, const fs::path& dir,
              const std::vector<std::string>& args) {
    zvtest::process p;
    p.argv = {program};
    p.argv.insert(p.argv.end(), args.begin(), args.end());
    p.dir = dir;
    p.seconds = 240;
    return zvtest::run(p);
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(e.path(), dir).string());
    return names;
}

void touchlater(const fs::path& p) {
    auto newest = fs::file_time_type::min();
    for (const auto& e : fs::directory_iterator(p.parent_path()))
        newest = std::max(newest, e.last_write_time());
    fs::last_write_time(p, newest + std::chrono::seconds(1));
}

} // namespace zvbuildtest
