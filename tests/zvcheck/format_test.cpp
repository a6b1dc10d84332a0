// The library's formatter (zv::format, and zv_diagnostic_format of the C API) against zv
// check: for every program of the case corpus, each diagnostic the library reports, as the
// formatter renders it, stands in zv check's text output exactly, and the C formatter
// renders it byte for byte as the C++ one.
#include <gtest/gtest.h>

#include <map>

#include "runzv.h"
#include "zv.h"
#include "zv.hpp"

namespace zvtest {
namespace {

struct program {
    std::string name;
    std::map<std::string, std::string> files; // prog.zv and the files it includes
};

// The files of each case that runs plain `zv check prog.zv` (no args, stdin, env or tty, and
// no file with flags such as crlf).
std::vector<program> corpusprograms() {
    std::vector<program> out;
    for (const casetext& c : readcasedir(ZV_CASES_DIR)) {
        program p{c.name, {}};
        bool plain = true;
        for (const section& s : c.sections) {
            if (s.kind == "args" || s.kind == "stdin" || s.kind == "env" || s.kind == "tty") {
                plain = false;
            } else if (s.kind == "file") {
                const std::string name = s.words.empty() ? "prog.zv" : s.words[0];
                if (name.find('.') == std::string::npos) plain = false;
                p.files[name] = s.body();
            }
        }
        if (plain && p.files.count("prog.zv")) out.push_back(std::move(p));
    }
    return out;
}

TEST(formatter, rendersasZvCheckDoes) {
    const std::vector<program> programs = corpusprograms();
    ASSERT_GT(programs.size(), 20u);
    std::size_t compared = 0;
    for (const program& p : programs) {
        scratchdir dir;
        for (const auto& [name, text] : p.files) spit(dir.path / name, text);
        const runresult checked = runzv(dir.path, {{"check", "--color=never", "prog.zv"}});
        zv::options options;
        options.name = "prog.zv";
        options.warn = true;
        options.keepgoing = true;
        options.readinclude = [&](const std::string& path) -> std::optional<std::string> {
            const auto found = p.files.find(path);
            if (found == p.files.end()) return std::nullopt;
            return found->second;
        };
        const zv::result result = zv::compile(p.files.at("prog.zv"), options);
        // The same compile through the C API, for its formatter.
        zv_options c;
        zv_options_init(&c);
        c.name = "prog.zv";
        c.flags |= ZV_OPTION_WARNINGS | ZV_OPTION_KEEP_GOING;
        c.read_file = [](void* user, zv_include_request* request) {
            const auto& files = *static_cast<const std::map<std::string, std::string>*>(user);
            const auto found = files.find(request->path);
            if (found == files.end()) return 1;
            request->data = found->second.data();
            request->size = found->second.size();
            return 0;
        };
        c.user = const_cast<std::map<std::string, std::string>*>(&p.files);
        const std::string& text = p.files.at("prog.zv");
        zv_result* cresult = zv_compile(text.data(), text.size(), &c);
        ASSERT_EQ(zv_result_diagnostic_count(cresult), result.diagnostics.size()) << p.name;
        for (std::size_t i = 0; i < result.diagnostics.size(); ++i) {
            const zv::diagnostic& d = result.diagnostics[i];
            if (d.code == "cannot-open") continue; // zv check adds where it looked
            const std::string body = zv::format(d, result.sources, false, false);
            EXPECT_NE(checked.out.find(body), std::string::npos) << p.name << ": zv check printed\n"
                                                                 << checked.out << "the formatter\n"
                                                                 << body;
            const char* formatted = zv_diagnostic_format(cresult, zv_result_diagnostic(cresult, i),
                                                         ZV_FORMAT_NO_INCLUDES);
            ASSERT_NE(formatted, nullptr);
            EXPECT_EQ(std::string(formatted), body) << p.name;
            const std::string coloured = zv::format(d, result.sources, true, true);
            EXPECT_EQ(std::string(zv_diagnostic_format(cresult, zv_result_diagnostic(cresult, i),
                                                       ZV_FORMAT_COLOR)),
                      coloured)
                << p.name;
            ++compared;
        }
        // A diagnostic of another result is refused.
        if (!result.diagnostics.empty()) {
            zv_result* other = zv_compile("x = +\n", 6, nullptr);
            EXPECT_EQ(zv_diagnostic_format(cresult, zv_result_diagnostic(other, 0), 0), nullptr);
            zv_result_free(other);
        }
        zv_result_free(cresult);
    }
    EXPECT_GT(compared, 40u);
}

} // namespace
} // namespace zvtest
