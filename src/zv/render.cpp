// The text form of diagnostics: each diagnostic as the library formats it (zv::format:
// GNU-style locus lines, the quoted source line with a caret, the notes, ANSI colour), the
// include chain written once for diagnostics that share it, and the closing tally.
#include <algorithm>

#include "render.h"

namespace zvtool {

bool iswarningname(std::string_view code) {
    const auto& all = zv::warnings();
    return std::any_of(all.begin(), all.end(), [&](const auto& w) { return code == w.name; });
}

void promotewarnings(report& r) {
    for (auto& d : r.diagnostics) d.level = zv::severity::error;
}

tally count(const std::vector<report>& reports) {
    tally t;
    for (const auto& r : reports)
        for (const auto& d : r.diagnostics)
            ++(d.level == zv::severity::error ? t.errors : t.warnings);
    return t;
}

std::string rendertext(const report& r, bool color) {
    std::string out;
    const zv::formatter format(r.sources);
    const std::vector<zv::location>* lastchain = nullptr;
    for (const auto& d : r.diagnostics) {
        const bool samechain = lastchain && lastchain->size() == d.includedfrom.size() &&
                               std::equal(d.includedfrom.begin(), d.includedfrom.end(),
                                          lastchain->begin(), [](const auto& a, const auto& b) {
                                              return a.file == b.file && a.line == b.line;
                                          });
        lastchain = &d.includedfrom;
        if (d.where.file.empty()) {
            zv::diagnostic named = d; // reported against the program
            named.where.file = r.program;
            out += format(named, color, !samechain);
        } else {
            out += format(d, color, !samechain);
        }
    }
    return out;
}

std::string summary(tally t) {
    auto counted = [](std::size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string parts;
    if (t.warnings) parts = counted(t.warnings, "warning");
    if (t.warnings && t.errors) parts += " and ";
    if (t.errors) parts += counted(t.errors, "error");
    return parts.empty() ? "" : parts + " generated.\n";
}

} // namespace zvtool
