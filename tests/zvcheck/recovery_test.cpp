// zv check against zvc, end to end: a program made of independent lines, some of which fail
// alone, must draw from zv check exactly the error of each failing line, at that line, with
// the message zvc prints for that line alone (or, for the statement splitter's exits, the
// code of zvc's exit status), and no error on any other line; at the top of the program,
// inside a function body and two blocks deep.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "independentlines.h"
#include "messages.h"
#include "runzv.h"

namespace zvtest {

namespace {

struct zvcrun {
    int status = -1;
    std::string message; // the error report's last line
};

// Runs zvc on `line` alone in `dir`.
zvcrun runzvc(const fs::path& dir, const std::string& line) {
    spit(dir / "alone.zv", line + "\n");
    process p;
    p.argv = {ZVC_PATH, "alone.zv"};
    p.dir = dir;
    const runresult ran = run(p);
    zvcrun r;
    r.status = ran.status;
    std::istringstream err(ran.err);
    for (std::string l; std::getline(err, l);) r.message = l;
    return r;
}

const std::map<int, std::string> exitcodes = {
    {51, "unclosed"}, {52, "stray-brace"}, {54, "stray-parenthesis"}};

TEST(recovery, zvcheckreportswhatzvcsaysofeachfailinglinealone) {
    scratchdir dir;
    std::map<std::string, zvcrun> alone;
    // A closer that zvc stops at (52, 54) may leave its opener open once zv check takes it
    // as absent: zv check then reports that opener too, as zvc does the line without it.
    std::map<std::string, bool> opensalso;
    for (const std::string& line : failinglines) {
        alone[line] = runzvc(dir.path, line);
        ASSERT_NE(alone[line].status, 0) << line;
        if (alone[line].status == 52 || alone[line].status == 54) {
            std::string without = line;
            without.erase(without.rfind(alone[line].status == 52 ? '}' : ')'), 1);
            opensalso[line] = runzvc(dir.path, without).status == 51;
        }
    }
    std::mt19937 random(7);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<const std::string*> lines;
        for (int i = 0; i < 16; ++i) {
            const bool failing = i % 2 == 0 || random() % 2 == 0;
            const auto& pool = failing ? failinglines : validlines;
            lines.push_back(&pool[random() % pool.size()]);
        }
        for (const wrapping& w : wrappings) {
            const std::string text = program(w, lines);
            SCOPED_TRACE(std::string(w.name) + ":\n" + text);
            spit(dir.path / "prog.zv", text);
            const runresult r = runzv(dir.path, {{"check", "-w", "--format=json", "prog.zv"}});
            const auto doc = nlohmann::json::parse(r.out, nullptr, false);
            ASSERT_TRUE(doc.is_object()) << r.out << r.err;
            std::vector<std::string> got, want;
            for (const auto& d : doc["diagnostics"]) {
                got.push_back(std::to_string(d["line"].get<int>()) + " " +
                              d["code"].get<std::string>() + " " +
                              (std::string(d["code"]) == "unclosed" ||
                                       std::string(d["code"]).starts_with("stray-")
                                   ? std::string()
                                   : d["message"].get<std::string>()));
            }
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const auto found = alone.find(*lines[i]);
                if (found == alone.end()) continue;
                const zvcrun& z = found->second;
                const std::string line = std::to_string(w.firstline + i);
                want.push_back(z.status == 1 ? line + " " + zvmessages::classify(z.message).code +
                                                   " " + z.message
                                             : line + " " + exitcodes.at(z.status) + " ");
                if (opensalso[*lines[i]]) want.push_back(line + " unclosed ");
            }
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
            EXPECT_EQ(got, want);
            EXPECT_EQ(r.status, want.empty() ? 0 : 1);
        }
    }
}

} // namespace

} // namespace zvtest
