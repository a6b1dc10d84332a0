// zvc against zv check and zv build on a few hundred generated programs (valid and broken,
// some including a file, some holding bytes that are not UTF-8), four shards of them: zvc
// fails exactly when zv check reports an error; every error is located; a compile error's
// message is zvc's message; a parser exit is reported by its code; zv build writes exactly
// zvc's bytes, and nothing when zvc fails.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support.h"
#include "utf8.h"

namespace {

using namespace zvtest;
using nlohmann::json;

constexpr int shards = 4;
constexpr int pershard = 75;

// Statements; NAME, NUM and TEXT are filled in at random.
const std::vector<std::string> valid = {
    "NAME = NUM",
    "NAME = (NAME + NUM)*NUM",
    "NAME = [NUM, \"TEXT\", NAME]",
    "NAME = {\"TEXT\": NUM, \"k\": [NUM]}",
    "NAME(NUM, NAME)",
    "NAME = NAME.NAME(NUM)",
    "def NAME(a, b) {\n  return a+b\n}",
    "if NAME {\n  NAME = NUM\n}",
    "while NAME {\n  NAME = NAME-1\n}",
    "class NAME {\n  def m() {return NUM}\n}",
    "NAME = \"TEXT\"",
    "NAME[NUM] = NAME",
    "for NAME in NAME {\n  NAME(NAME)\n}",
    "NAME = not NAME",
};
const std::vector<std::string> broken = {
    "NAME = NAME+",
    "NAME = NAME+-NUM",
    "NAME = (NAME",
    "NAME = [NUM, NUM",
    "}",
    "NAME = (NAME))",
    "NAME = \"TEXT",
    "NAME = (NUM)NAME",
    "frobnicate NAME",
    "also nosuch",
    "NAME = [NUM}]",
    "def NAME( {",
    "NAME = NUM.5.5.5",
    "NAME = \xC0\x80",
    "NAME \xE4\xF6(NUM)",
    "if {",
};
const std::vector<std::string> names = {"x", "y", "total", "gr\xC3\xBC\xC3\x9F", "a1", "f"};
const std::vector<std::string> texts = {"hi", "\xE2\x82\xAC", "a b", "\xFF\xFE", ""};

std::string fill(std::string line, std::mt19937& random) {
    const auto pick = [&](const std::vector<std::string>& from) {
        return from[random() % from.size()];
    };
    for (const auto& [hole, from] :
         {std::pair{std::string("NAME"), &names}, std::pair{std::string("TEXT"), &texts}})
        for (std::size_t at; (at = line.find(hole)) != std::string::npos;)
            line.replace(at, hole.size(), pick(*from));
    for (std::size_t at; (at = line.find("NUM")) != std::string::npos;)
        line.replace(at, 3, std::to_string(random() % 100) + (random() % 4 ? "" : ".25"));
    return line;
}

std::string program(std::mt19937& random, bool mayinclude) {
    std::string text;
    const int count = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) {
        const bool bad = random() % 10 == 0;
        const auto& from = bad ? broken : valid;
        text += fill(from[random() % from.size()], random) + "\n";
        if (mayinclude && random() % 12 == 0) text += "also inc\n";
    }
    return text;
}

// The message of zvc's four-line report.
std::string reportedmessage(const std::string& err) {
    const std::string head = "Experienced error during compilation:\n";
    const std::size_t at = err.find(head);
    if (at == std::string::npos) return "";
    const std::string rest = err.substr(at + head.size());
    return rest.substr(0, rest.find('\n'));
}

class differential : public ::testing::TestWithParam<int> {};

TEST_P(differential, zvcagainstcheckandbuild) {
    std::mt19937 random(1000 + GetParam());
    for (int n = 0; n < pershard; ++n) {
        const std::string prog = program(random, true), inc = program(random, false);
        SCOPED_TRACE("program:\n" + prog + "inc.ZVEX:\n" + inc);
        scratchdir dir("zvdiff");
        spit(dir.path / "prog.zv", prog);
        spit(dir.path / "inc.ZVEX", inc);
        process zvc, check, build;
        zvc.argv = {ZVC_PATH, "prog.zv"};
        check.argv = {ZV_PATH, "check", "--format=json", "prog.zv"};
        build.argv = {ZV_PATH, "build", "-q", "-o", "built.zvbc", "prog.zv"};
        zvc.dir = check.dir = build.dir = dir.path;
        const runresult c = run(zvc), k = run(check), b = run(build);
        ASSERT_EQ(c.signal + k.signal + b.signal, 0) << c.err << k.err << b.err;
        const json doc = json::parse(k.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << k.out;
        std::vector<json> errors;
        for (const json& d : doc["diagnostics"])
            if (d["severity"] == "error") errors.push_back(d);
        EXPECT_EQ(c.status != 0, !errors.empty()) << "zvc " << c.status << "\n" << k.out;
        EXPECT_EQ(k.status, errors.empty() ? 0 : 1);
        for (const json& e : errors) EXPECT_TRUE(e.contains("line")) << "unlocated: " << e.dump();
        if (c.status == 1) {
            const std::string message = reportedmessage(c.err);
            // JSON carries the message's stray bytes as U+FFFD.
            // zv check closes a bracket or string left open at the end of its line when the
            // next line starts a statement, and says so ("unclosed"), where zvc reads the
            // next lines into that statement and fails on it with a message of its own.
            const bool found = std::any_of(errors.begin(), errors.end(), [&](const json& e) {
                return e["message"] == utf8::clean(message) || e["code"] == "unclosed";
            });
            EXPECT_TRUE(found) << "zvc said: " << message << "\n" << k.out;
        } else if (c.status != 0) {
            const std::string code = c.status == 51 ? "unclosed" : "stray-";
            EXPECT_TRUE(std::any_of(
                errors.begin(), errors.end(),
                [&](const json& e) { return e["code"].get<std::string>().starts_with(code); }))
                << "zvc exit " << c.status << "\n"
                << k.out;
        }
        EXPECT_EQ(b.status, c.status == 0 ? 0 : 1) << b.err;
        if (c.status == 0) {
            EXPECT_EQ(slurp(dir.path / "built.zvbc"), slurp(dir.path / "prog.zvbc"));
        } else {
            EXPECT_FALSE(fs::exists(dir.path / "built.zvbc"));
        }
        if (::testing::Test::HasFailure()) {
            dir.keep = true;
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(shard, differential, ::testing::Range(0, shards));

} // namespace
