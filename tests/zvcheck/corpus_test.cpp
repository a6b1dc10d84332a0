// The zv check corpus: every case of cases/*.case becomes one test. It gets a fresh
// directory holding its files, runs the built zv there and compares standard output, the
// exit status and, when given, standard error. Each case that reports diagnostics as text
// is run again with --format=json and --format=sarif, and both documents must say what
// the text said (formatcheck.h). The case format is described in cases/README.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "formatcheck.h"
#include "runzv.h"

namespace zvtest {

namespace {

struct testcase {
    std::string name, problem; // problem: the case could not be read as intended
    std::vector<std::pair<std::string, std::string>> files;
    invocation how{{"check", "prog.zv"}};
    std::optional<std::string> out, err;
    int status = 1;
    friend void PrintTo(const testcase& tc, std::ostream* os) { *os << tc.name; }
};

// Placeholders for what a case file cannot show plainly: {TAB}, {ESC} and {xHH}, the byte
// of two hexadecimal digits.
std::string expand(std::string text) {
    text = replaceall(std::move(text), "{TAB}", "\t");
    text = replaceall(std::move(text), "{ESC}", "\033");
    static const std::regex byte(R"(\{x([0-9A-Fa-f]{2})\})");
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator m(text.begin(), text.end(), byte), end; m != end; ++m) {
        out.append(last, (*m)[0].first);
        out += static_cast<char>(std::stoi((*m)[1].str(), nullptr, 16));
        last = (*m)[0].second;
    }
    return out.append(last, text.cend());
}

std::string withflags(std::string body, const std::set<std::string>& flags) {
    if (flags.count("noeol") && !body.empty()) body.pop_back();
    if (flags.count("crlf")) body = replaceall(std::move(body), "\n", "\r\n");
    return body;
}

using sectionfn = void (*)(testcase&, const std::string& word, const std::string& body,
                           const std::vector<std::string>& lines);

const std::map<std::string, sectionfn> sections = {
    {"file", [](testcase& tc, const std::string& word, const std::string& body,
                const auto&) { tc.files.emplace_back(word.empty() ? "prog.zv" : word, body); }},
    {"stdin", [](testcase& tc, const std::string&, const std::string& body,
                 const auto&) { tc.how.input = body; }},
    {"args", [](testcase& tc, const std::string&, const std::string&,
                const auto& lines) { tc.how.args = lines; }},
    {"env", [](testcase& tc, const std::string&, const std::string&,
               const auto& lines) { tc.how.env = lines; }},
    {"tty",
     [](testcase& tc, const std::string&, const std::string&, const auto&) { tc.how.tty = true; }},
    {"stdout",
     [](testcase& tc, const std::string&, const std::string& body, const auto&) { tc.out = body; }},
    {"stderr",
     [](testcase& tc, const std::string&, const std::string& body, const auto&) { tc.err = body; }},
    {"status", [](testcase& tc, const std::string& word, const std::string&,
                  const auto&) { tc.status = std::stoi(word); }},
};

void addsection(testcase& tc, const std::vector<std::string>& head,
                std::vector<std::string> lines) {
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string body, word;
    for (auto& l : lines) body += (l = expand(l)) + "\n";
    std::set<std::string> flags;
    for (std::size_t i = 1; i < head.size(); ++i)
        (head[i] == "crlf" || head[i] == "noeol" ? (void)flags.insert(head[i])
                                                 : (void)(word = head[i]));
    auto kind = sections.find(head[0]);
    if (kind == sections.end()) tc.problem = "unknown section " + head[0];
    if (kind != sections.end()) kind->second(tc, word, withflags(body, flags), lines);
}

std::vector<testcase> loadcorpus() {
    std::vector<testcase> all;
    for (const casetext& c : readcasedir(ZV_CASES_DIR)) {
        testcase& tc = all.emplace_back();
        tc.name = c.name;
        for (const section& s : c.sections) {
            std::vector<std::string> head = {s.kind};
            head.insert(head.end(), s.words.begin(), s.words.end());
            addsection(tc, head, s.lines);
        }
    }
    return all;
}

// Whether the case's text output can be checked again as JSON and SARIF.
bool reformattable(const testcase& tc) {
    const auto& a = tc.how.args;
    const auto notext = [](const std::string& arg) {
        return arg.starts_with("--format") || arg.starts_with("--color") || arg == "--help";
    };
    return !a.empty() && a[0] == "check" && tc.status != 2 && !tc.how.tty &&
           std::none_of(a.begin(), a.end(), notext);
}

class corpus : public ::testing::TestWithParam<testcase> {};

TEST_P(corpus, run) {
    const testcase& tc = GetParam();
    ASSERT_EQ(tc.problem, "") << "malformed case";
    scratchdir dir;
    ASSERT_FALSE(dir.path.empty());
    for (const auto& [path, content] : tc.files) spit(dir.path / path, content);
    runresult r = runzv(dir.path, tc.how);
    EXPECT_EQ(r.status, tc.status);
    if (tc.out) { EXPECT_EQ(replaceall(r.out, dir.path.string(), "{DIR}"), *tc.out); }
    if (tc.err) { EXPECT_EQ(r.err, *tc.err); }
    if (reformattable(tc)) checkformats(dir.path, tc.how, r);
    if (::testing::Test::HasFailure()) dir.keep = true, std::cout << "kept " << dir.path << "\n";
}

INSTANTIATE_TEST_SUITE_P(cases, corpus, ::testing::ValuesIn(loadcorpus()),
                         [](const auto& info) { return info.param.name; });

} // namespace

} // namespace zvtest
