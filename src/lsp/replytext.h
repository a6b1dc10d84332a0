// Replies written as JSON text straight into the message that carries them, for the
// requests whose results grow with the document (semantic tokens, document symbols): no
// JSON value is built and no copy made. The text is what dumping the same value would give
// after its strings were cleaned: keys in sorted order, no blanks, strings as valid UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text.h"

namespace zvlsp {

// Appends `text` as a JSON string: each byte outside a UTF-8 character becomes U+FFFD,
// '"', '\\' and control characters are escaped.
void appendstring(std::string& out, std::string_view text);

void appendnumber(std::string& out, std::uint32_t n);

// An LSP Position and Range.
void appendposition(std::string& out, position at);
void appendrange(std::string& out, position begin, position end);

} // namespace zvlsp
