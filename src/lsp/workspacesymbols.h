// Workspace symbols: the functions, classes, methods and globals of every open document
// and of the files they include (each file once), whose names hold the query's characters
// in order, case ignored.
#pragma once

#include <string_view>
#include <vector>

#include "lspvalues.h"
#include "workspace.h"

namespace zvlsp {

// Symbols beyond this many are not listed.
constexpr std::size_t maxworkspacesymbols = 1000;

std::vector<symbolinformation> workspacesymbols(const workspace& ws, std::string_view query,
                                                encoding enc);

// Whether the characters of `query` occur in `name` in order, case ignored.
bool fuzzymatch(std::string_view name, std::string_view query);

} // namespace zvlsp
