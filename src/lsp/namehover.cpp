// Describing a name from its definition.
#include "namehover.h"

#include <filesystem>

#include "definition.h"

namespace zvlsp {

namespace {

// Longer first lines of a defining statement are cut in a description.
constexpr std::size_t maxshown = 80;

// The 1-based line of `offset` in `text`.
std::size_t lineof(std::string_view text, std::size_t offset) {
    return static_cast<std::size_t>(
               std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n')) +
           1;
}

// "line N" in the document, "FILE line N" in an included file.
std::string where(const nameindex& names, const definition& d) {
    const scopefile& f = names.files()[d.file];
    std::string out = "line " + std::to_string(lineof(f.text, d.stmtbegin));
    if (d.file != 0) out = std::filesystem::path(f.path).filename().string() + " " + out;
    return out;
}

// The first line of the defining statement, cut to `maxshown` characters.
std::string firstline(const nameindex& names, const definition& d) {
    const std::string_view text = names.files()[d.file].text;
    std::string_view s = text.substr(d.stmtbegin, d.stmtend - d.stmtbegin);
    s = s.substr(0, s.find('\n'));
    if (s.ends_with('\r')) s.remove_suffix(1);
    std::string out(s.substr(0, maxshown));
    if (s.size() > maxshown) out += "...";
    return out;
}

std::string code(const std::string& line) {
    return "```zv\n" + line + "\n```\n";
}

} // namespace

std::string describe(const nameindex& names, const definition& d) {
    switch (d.kind) {
    case namekind::function:
        return code("def " + d.name + parameterlist(d)) + "function, defined at " +
               where(names, d) + "\n";
    case namekind::method:
        return code("def " + d.name + parameterlist(d)) + "method of class `" + d.owner +
               "`, defined at " + where(names, d) + "\n";
    case namekind::cls: {
        std::string out = code("class " + d.name) + "class, defined at " + where(names, d) + "\n";
        std::string methods;
        for (const definition& m : names.definitions()) {
            if (m.kind != namekind::method || m.file != d.file || m.container != d.name ||
                m.stmtbegin < d.stmtbegin || m.stmtend > d.stmtend) {
                continue;
            }
            methods += "\n- `" + m.name + parameterlist(m) + "`";
        }
        if (!methods.empty()) out += "\nmethods:" + methods + "\n";
        return out;
    }
    case namekind::parameter:
        return code(firstline(names, d)) + "parameter `" + d.name + "` of `" + d.container + "`\n";
    case namekind::field:
        return code(firstline(names, d)) + "field `" + d.name + "` of class `" + d.owner +
               "`, assigned at " + where(names, d) + "\n";
    case namekind::global:
        return code(firstline(names, d)) + "global `" + d.name.substr(1) + "`, assigned at " +
               where(names, d) + "\n";
    case namekind::variable:
        break;
    }
    return code(firstline(names, d)) + "variable `" + d.name + "`, assigned at " + where(names, d) +
           "\n";
}

std::optional<namedescription> describenameat(const nameindex& names, std::size_t offset) {
    const occurrence* o = names.at(0, offset);
    if (!o) return std::nullopt;
    const definition* d = names.definitionof(o->key, 0, o->begin);
    if (!d) return std::nullopt;
    return namedescription{o->begin, o->end, describe(names, *d)};
}

} // namespace zvlsp
