// Document symbols (the `def` and `class` statements as a tree, methods inside their
// classes) and folding ranges (code blocks in braces that span lines), from the outline.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "outline.h"
#include "text.h"

namespace zvlsp {

// Appends DocumentSymbol[] as JSON text: range the whole statement, selectionRange the name.
// A large document has hundreds of thousands of symbols, written as they are found.
void appenddocumentsymbols(std::string& out, const outline& tree, std::string_view text,
                           encoding enc);

// The folding ranges, in document order, as a start and an end line: from the line of a
// block's '{' to the line before its '}' (to the line of the '}' when the block's last line
// holds more than the brace).
using foldingvisitor = std::function<void(std::uint32_t start, std::uint32_t end)>;
void eachfolding(const outline& tree, std::string_view text, const foldingvisitor& visit);

// Appends FoldingRange[] as JSON text.
void appendfoldingranges(std::string& out, const outline& tree, std::string_view text);

} // namespace zvlsp
