// What a name is, for hover and completion documentation: `def clamp(x, lo, hi)` and where
// it is defined, a class and its methods, an assigned name or field and its assignment, a
// parameter and its function.
#pragma once

#include <optional>
#include <string>

#include "names.h"

namespace zvlsp {

// Markdown describing `d`.
std::string describe(const nameindex& names, const definition& d);

// The description of the name at `offset` of the document, with the name's byte range;
// std::nullopt when no name with a definition in scope stands there.
struct namedescription {
    std::size_t begin = 0, end = 0;
    std::string markdown;
};
std::optional<namedescription> describenameat(const nameindex& names, std::size_t offset);

} // namespace zvlsp
