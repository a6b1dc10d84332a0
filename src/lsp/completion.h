// Completion: after '.' the members of the classes in scope (those of the class the
// receiver was made from first), after '@' the members of the enclosing class first; on
// an `also` statement the .ZVEX files that can be included; elsewhere the names defined in
// the document and its includes (functions with their parameters, classes, assigned names,
// globals, the parameters of the function around the cursor) and, at the start of a
// statement, the statement forms as snippets. completionItem/resolve adds documentation.
#pragma once

#include "lspvalues.h"
#include "names.h"

namespace zvlsp {

completionlist completionat(const nameindex& names, std::size_t offset, std::string_view basedir,
                            encoding enc);

// `item` with its documentation, from what its `data` names.
completionitem resolvecompletion(const nameindex& names, completionitem item);

// The snippet of each statement form, by keyword.
struct formsnippet {
    std::string_view keyword;
    std::string_view snippet;
    std::string_view summary;
};
const std::vector<formsnippet>& formsnippets();

} // namespace zvlsp
