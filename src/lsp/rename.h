// Rename: prepareRename answers the range and text of the name under the cursor; rename
// edits every occurrence of it in the document and the files it includes. A new name must
// be a name of the language (name characters only, no prefix, not starting with a digit,
// not a statement keyword or word operator) and keep the meaning: a global keeps its
// leading G, and any other name may not gain one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lspvalues.h"
#include "names.h"

namespace zvlsp {

struct renametarget {
    lsprange range;
    std::string placeholder;
};

// std::nullopt when no name that can be renamed stands at `offset` of the document.
std::optional<renametarget> preparerenameat(const nameindex& names, std::size_t offset,
                                            encoding enc);

// Why `newname` cannot replace the name whose key is `key`; empty when it can.
std::string renameproblem(std::string_view key, std::string_view newname);

// The edits that rename the name at `offset` to `newname` (checked by `renameproblem`
// first); empty when no name stands there.
workspaceedit renameat(const nameindex& names, std::size_t offset, std::string_view newname,
                       encoding enc);

// The edits that rename every occurrence related to `o`.
workspaceedit renameedit(const nameindex& names, const occurrence& o, std::string_view newname,
                         encoding enc);

} // namespace zvlsp
