// Signature help inside a call: the definition's parameter list, with the parameter the
// cursor is in (counted by the commas outside nested brackets and strings).
#pragma once

#include <optional>

#include "lspvalues.h"
#include "names.h"

namespace zvlsp {

// std::nullopt outside a call, or in a call of a name defined nowhere in scope.
std::optional<signaturehelp> signatureat(const nameindex& names, std::size_t offset, encoding enc);

} // namespace zvlsp
