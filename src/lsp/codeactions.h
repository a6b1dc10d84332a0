// Quick fixes for the warnings and the common errors of a document. Each candidate edit is
// checked by compiling the fixed text: the diagnostic it fixes must be gone, no other may
// appear, and every statement the edit does not touch must compile to the same bytes.
// Only candidates that pass are offered.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "lspvalues.h"
#include "workspace.h"

namespace zvlsp {

// The fixes for the diagnostics of `doc`'s last compilation that lie in `from`..`to`
// (byte offsets). `sent` are the Diagnostic objects the client sent with the request: a
// fix names the one that matches its diagnostic.
std::vector<codeaction> codeactionsfor(const workspace& ws, const document& doc, std::size_t from,
                                       std::size_t to, const nlohmann::json& sent, encoding enc);

} // namespace zvlsp
