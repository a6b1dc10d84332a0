// Renaming a name everywhere it occurs.
#include "rename.h"

#include "compiler.h"

namespace zvlsp {

namespace {

bool global(std::string_view name) {
    return name.size() > 1 && name.front() == 'G';
}

} // namespace

std::optional<renametarget> preparerenameat(const nameindex& names, std::size_t offset,
                                            encoding enc) {
    const occurrence* o = names.at(0, offset);
    if (!o) return std::nullopt;
    const std::string_view text = names.files()[0].text;
    return renametarget{names.rangeof(0, o->begin, o->end, enc),
                        std::string(text.substr(o->begin, o->end - o->begin))};
}

std::string renameproblem(std::string_view key, std::string_view newname) {
    if (newname.empty()) return "the new name is empty";
    for (const char c : newname) {
        if (!namechar(c) || c == '@' || c == '&' || c == '%') {
            return concat({"'", std::string_view(&c, 1), "' cannot stand in a name"});
        }
    }
    if (newname.front() >= '0' && newname.front() <= '9') return "a name cannot begin with a digit";
    if (inlist(statements, newname) || inlist(operators, newname)) {
        return concat({"'", newname, "' is a word of the language"});
    }
    const bool wasglobal = key.starts_with('G') && global(key);
    if (wasglobal && !global(newname)) {
        return concat({"'", key, "' is a global: its new name must begin with G"});
    }
    if (!wasglobal && global(newname)) {
        return concat({"a leading G makes '", newname, "' the global '", newname.substr(1), "'"});
    }
    return {};
}

workspaceedit renameedit(const nameindex& names, const occurrence& o, std::string_view newname,
                         encoding enc) {
    workspaceedit edit;
    for (const occurrence* u : names.related(o)) {
        // A global written `G&x` keeps its G where it stands.
        const std::string_view text = u->gapart ? newname.substr(1) : newname;
        edit.changes[names.files()[u->file].uri].push_back(
            {names.rangeof(u->file, u->begin, u->end, enc), std::string(text)});
    }
    return edit;
}

workspaceedit renameat(const nameindex& names, std::size_t offset, std::string_view newname,
                       encoding enc) {
    const occurrence* o = names.at(0, offset);
    if (!o) return {};
    return renameedit(names, *o, newname, enc);
}

} // namespace zvlsp
