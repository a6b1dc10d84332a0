// zv check: compiles each program named on the command line (or standard input for `-`)
// with warnings on, going on after errors, writes no byte code, and reports every
// diagnostic sorted by place in the chosen format (at most --max-errors errors a program).
// Exit status 0 when no error was found, 1 when one was.
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "commands.h"
#include "flags.h"
#include "messages.h"
#include "packer.h"
#include "sourcefile.h"

namespace zvtool {

namespace {

struct checkstate {
    std::vector<std::string> files;
    diagnosticflags flags;
    std::size_t maxerrors = 0; // 0: no limit
};

// A program that cannot be read (or is too large) is reported as the compiler reports it.
report unreadable(const std::string& name, const std::string& message) {
    zv::diagnostic d;
    d.code = zvmessages::classify(message).code;
    d.message = message;
    d.where.file = name;
    return {name, {d}, {}};
}

// Where a diagnostic stands, for sorting: the places of the `also` statements that lead to
// it from the program, outermost first, then its own. Unlocated ones sort last.
std::vector<std::pair<std::uint32_t, std::uint32_t>> sortkey(const zv::diagnostic& d) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> key;
    if (!d.located) return {{UINT32_MAX, UINT32_MAX}};
    for (auto at = d.includedfrom.rbegin(); at != d.includedfrom.rend(); ++at)
        key.emplace_back(at->line, at->column);
    key.emplace_back(d.where.line, d.where.column);
    return key;
}

// Sorts by place, keeping the order found among equals, and keeps at most `maxerrors`
// errors (0: all) with the warnings before the last one kept. True when errors were left
// out.
bool arrange(std::vector<zv::diagnostic>& diagnostics, std::size_t maxerrors) {
    std::stable_sort(
        diagnostics.begin(), diagnostics.end(),
        [](const zv::diagnostic& a, const zv::diagnostic& b) { return sortkey(a) < sortkey(b); });
    if (maxerrors == 0) return false;
    std::size_t errors = 0;
    for (std::size_t i = 0; i < diagnostics.size(); ++i) {
        if (diagnostics[i].level == zv::severity::error && ++errors == maxerrors) {
            const bool more = std::any_of(
                diagnostics.begin() + static_cast<std::ptrdiff_t>(i) + 1, diagnostics.end(),
                [](const zv::diagnostic& d) { return d.level == zv::severity::error; });
            diagnostics.resize(i + 1);
            return more;
        }
    }
    return false;
}

report checkone(const std::string& path, const zv::options& base) {
    zv::options options = base;
    options.name = path == "-" ? "<stdin>" : path;
    std::string text;
    try {
        text =
            path == "-" ? readsource(STDIN_FILENO, options.name, maxsourcesize) : readrawfile(path);
    } catch (const fatalerror& e) { return unreadable(options.name, e.message); }
    zv::result compiled = zv::compile(text, options);
    return {options.name, std::move(compiled.diagnostics), std::move(compiled.sources)};
}

// `stopped`: a line for each program whose errors --max-errors cut short.
void print(const std::vector<report>& reports, const diagnosticflags& flags,
           const std::string& stopped) {
    if (outputformat(flags) == format::text) {
        const bool color = usecolor(flags.color, STDOUT_FILENO);
        for (const auto& r : reports) std::cout << rendertext(r, color);
        std::cout.flush();
        std::cerr << stopped << summary(count(reports));
        return;
    }
    const auto document =
        outputformat(flags) == format::json ? renderjson(reports) : rendersarif(reports);
    std::cout << document.dump(2) << "\n";
}

// The footer of `zv check --help`: every warning with its summary.
std::string warninglist() {
    std::string text = "Warnings (all enabled by default):\n";
    for (const auto& w : zv::warnings())
        text += "  " + std::string(w.name) + ": " + w.summary + "\n";
    return text;
}

int runcheck(const checkstate& state) {
    const warningsetting warnings = resolvewarnings(state.flags);
    zv::options options;
    options.warn = !warnings.enabled.empty();
    options.enabled = warnings.enabled;
    options.keepgoing = true;
    std::vector<report> reports;
    std::string stopped;
    for (const auto& path : state.files) {
        reports.push_back(checkone(path, options));
        if (warnings.werror) promotewarnings(reports.back());
        if (arrange(reports.back().diagnostics, state.maxerrors)) {
            stopped += reports.back().program +
                       ": more errors not shown (--max-errors=" + std::to_string(state.maxerrors) +
                       ")\n";
        }
    }
    print(reports, state.flags, stopped);
    return count(reports).errors > 0 ? 1 : 0;
}

} // namespace

command addcheck(CLI::App& parent) {
    auto state = std::make_shared<checkstate>();
    CLI::App* app = parent.add_subcommand(
        "check", "Compile programs and report their errors and warnings; writes no byte code");
    app->add_option("FILE", state->files, "Programs to check; - reads standard input")->required();
    adddiagnosticflags(*app, state->flags);
    app->add_option("--max-errors", state->maxerrors,
                    "Report at most N errors of each program (0, the default: all of them)")
        ->option_text("N")
        ->check(CLI::NonNegativeNumber);
    app->footer(warninglist());
    return {app, [state] { return runcheck(*state); }};
}

} // namespace zvtool
