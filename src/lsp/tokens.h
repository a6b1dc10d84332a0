// Semantic tokens: keywords, operators, names, members, globals (the `G` prefix, as the
// modifier "global"), numbers and strings, read along the statement outline the way the
// compiler reads words, and encoded relative to each other as the protocol wants.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "outline.h"
#include "pieces.h"
#include "text.h"

namespace zvlsp {

enum class tokentype : std::uint8_t {
    keyword,
    op, // "operator"
    variable,
    property,
    number,
    string,
    function,
    type, // "class"
    parameter,
    name, // "namespace": the file named by `also`
};

// A large document has millions of tokens: their offsets are kept in 32 bits, as the
// compiler's places are.
struct token {
    std::uint32_t begin = 0, end = 0; // bytes of the document, on one line
    tokentype type = tokentype::variable;
    bool global = false;
};

// The legend: token type names in the order of `tokentype`, and the one modifier.
nlohmann::json tokenlegend();

using tokenvisitor = std::function<void(const token&)>;

// Calls `visit` with each token of the top-level statements `list` of `text`, in order, each within
// one line; a large document's tokens are never all held at once.
void eachtoken(std::span<const statement> list, std::string_view text, const tokenvisitor& visit);

// The tokens of the document, in order, each within one line.
std::vector<token> tokenize(const outline& tree, std::string_view text);

// The `data` array of SemanticTokens for `tokens` of `text`.
std::vector<std::uint32_t> encodetokens(const std::vector<token>& tokens, std::string_view text,
                                        encoding enc);

// Appends the SemanticTokens reply, `{"data":[...]}`, for the document `tree` splits from
// `text`, written as its tokens are read: never the tokens, their numbers and the reply at once.
void appendsemantictokens(std::string& out, const outline& tree, std::string_view text,
                          encoding enc);

// The same reply in two passes: its length is counted here, as its tokens are read, and its
// `write` reads them again to hand the text out in pieces; the reply is never held whole.
// `tree` and `text` must outlive the `write`.
sizedreply semantictokensreply(const outline& tree, std::string_view text, encoding enc);

} // namespace zvlsp
