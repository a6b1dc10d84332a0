// Hover: the source construct under the cursor (the innermost title node of the last
// successful compilation whose range holds the cursor) and the byte code it compiled to,
// listed as zvdis lists it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace.h"

namespace zvlsp {

struct hoverinfo {
    std::size_t begin = 0, end = 0; // the construct's bytes in the document
    std::string markdown;
};

// What hover needs of `r`, a compilation of `text` (the source of `file`), moved out of
// `r`: its byte code and origins, and each node and where it stands in the text. Nodes
// the compiler places only approximately (text it made by resolving escapes) are looked
// for in the text of their nearest placed ancestor.
std::shared_ptr<const analysis> analyse(zv::result& r, std::shared_ptr<const std::string> text,
                                        const std::string& file);

// The innermost placed node of `a` whose range holds `offset` of the text: the shortest
// range, and of equal ranges the later (deeper) node. Only the groups of nodes around the
// offset are read.
std::optional<std::size_t> constructat(const analysis& a, std::size_t offset);

// The listing lines (with the bytes of each) of the instructions whose first byte `node`
// or a descendant produced, indented relative to the outermost of them. Only the code of
// the node's group is read.
std::vector<std::pair<std::size_t, std::string>> listingof(const analysis& a, std::size_t node);

// std::nullopt when the document did not compile or no construct holds `offset`.
std::optional<hoverinfo> hoverat(const workspace& ws, document& doc, std::size_t offset);

} // namespace zvlsp
