// Hover: the source construct under the cursor (the innermost title node of the last
// successful compilation whose range holds the cursor) and the byte code it compiled to,
// listed as zvdis lists it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "workspace.h"

namespace zvlsp {

struct hoverinfo {
    std::size_t begin = 0, end = 0; // the construct's bytes in the document
    std::string markdown;
};

// std::nullopt when the document did not compile or no construct holds `offset`.
std::optional<hoverinfo> hoverat(const document& doc, std::size_t offset);

} // namespace zvlsp
