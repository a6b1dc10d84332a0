// The compiler's diagnostics of a document as LSP Diagnostic objects.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "text.h"
#include "workspace.h"

namespace zvlsp {

// The params of textDocument/publishDiagnostics for `doc`'s last compilation. Diagnostics
// in an included file stand on the `also` statement of `doc` that leads to it, their
// message prefixed with the file's name; the place in the file and the chain of `also`
// statements go into relatedInformation, and so do the compiler's notes.
nlohmann::json diagnosticsof(const document& doc, encoding enc);

// The message text of `d` as published: the compiler's message, then each plain-word note
// on a line of its own (most editors show only the message).
std::string messagetext(const zv::diagnostic& d);

} // namespace zvlsp
