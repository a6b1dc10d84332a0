// Go to definition: on a name, the `def`, `class` or assignment that defines it, in the
// document or in the files it includes (searched in the order of their `also`
// statements); on an `also NAME` statement, the file NAME.ZVEX.
#pragma once

#include <nlohmann/json.hpp>

#include "text.h"
#include "workspace.h"

namespace zvlsp {

// A Location, or null when nothing is found.
nlohmann::json definitionat(const workspace& ws, document& doc, std::size_t offset, encoding enc);

// The key a name at `offset` of `text` is looked up by: the name as written without the
// `&` and `%` prefixes; a member (after '.', or with the '@' prefix) as ".name". Empty when
// no name stands there.
std::string lookupkey(std::string_view text, std::size_t offset);

// The keys the statement `s` defines, in the form of `lookupkey` (`inclass`: `s` stands in
// a class body, so a `def` or `class` there defines a member).
std::vector<std::string> definedkeys(const statement& s, bool inclass);

} // namespace zvlsp
