// References and document highlights of a name: its definitions and every use, in the
// document and in the files it includes (highlights: in the document only), as the name
// index relates them (a parameter within its function only).
#pragma once

#include <vector>

#include "lspvalues.h"
#include "names.h"

namespace zvlsp {

// The Locations of the name at `offset` of the document (file 0 of `names`); the
// definitions among them only when `declarations`. Empty when no name stands there.
std::vector<location> referencesat(const nameindex& names, std::size_t offset, bool declarations,
                                   encoding enc);

// The occurrences in the document of the name at `offset`: definitions and assignment
// targets as writes, the rest as reads.
std::vector<documenthighlight> highlightsat(const nameindex& names, std::size_t offset,
                                            encoding enc);

} // namespace zvlsp
