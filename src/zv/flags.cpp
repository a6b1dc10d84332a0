// Shared diagnostic options: registration with CLI11 and their resolution into the
// enabled warnings, -Werror and the colour decision.
#include "flags.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string_view>

#include "zv.hpp"

namespace zvtool {

namespace {

std::vector<std::string> allwarnings() {
    std::vector<std::string> names;
    for (const auto& w : zv::warnings()) names.push_back(w.name);
    return names;
}

struct wstate {
    std::vector<std::string> on;
    bool werror = false;
};

// -W values that name no single warning.
const std::map<std::string_view, void (*)(wstate&)> groupswitches = {
    {"error", [](wstate& s) { s.werror = true; }},
    {"no-error", [](wstate& s) { s.werror = false; }},
    {"all", [](wstate& s) { s.on = allwarnings(); }},
};

void switchone(wstate& state, const std::string& value) {
    const bool off = value.starts_with("no-");
    const std::string name = off ? value.substr(3) : value;
    const auto all = allwarnings();
    if (std::find(all.begin(), all.end(), name) == all.end())
        throw CLI::ValidationError("-W", "unknown warning option '-W" + value + "'");
    std::erase(state.on, name);
    if (!off) state.on.push_back(name);
}

} // namespace

void adddiagnosticflags(CLI::App& app, diagnosticflags& flags) {
    app.add_option("-W", flags.wvalues,
                   "-WNAME enables a warning, -Wno-NAME disables it, -Wall enables all, "
                   "-Werror makes warnings errors")
        ->option_text("NAME")
        ->allow_extra_args(false);
    app.add_flag("-w", flags.nowarnings, "Disable every warning");
    app.add_option("--format", flags.format, "Output format: text (default), json or sarif")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({"text", "json", "sarif"}));
    app.add_option("--color", flags.color,
                   "Colour the text output: auto (default: on a terminal), always or never")
        ->option_text("WHEN")
        ->check(CLI::IsMember({"auto", "always", "never"}));
}

warningsetting resolvewarnings(const diagnosticflags& flags) {
    wstate state{allwarnings()};
    for (const auto& value : flags.wvalues) {
        auto group = groupswitches.find(value);
        group != groupswitches.end() ? group->second(state) : switchone(state, value);
    }
    warningsetting out{{}, state.werror};
    if (flags.nowarnings) return out;
    for (const auto& name : allwarnings())
        if (std::find(state.on.begin(), state.on.end(), name) != state.on.end())
            out.enabled.push_back(name);
    return out;
}

format outputformat(const diagnosticflags& flags) {
    static const std::map<std::string, format> formats = {
        {"text", format::text}, {"json", format::json}, {"sarif", format::sarif}};
    return formats.at(flags.format);
}

bool usecolor(const std::string& when, int fd) {
    if (when != "auto") return when == "always";
    const char* nocolor = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    if (nocolor && *nocolor) return false;
    if (term && std::string_view(term) == "dumb") return false;
    return isatty(fd) == 1;
}

} // namespace zvtool
