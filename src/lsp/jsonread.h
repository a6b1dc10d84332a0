// Reading message bodies fast. An editor's didOpen and didChange carry a document's whole
// text as one JSON string; the general JSON reader takes some eighty instructions a byte
// for it. This reader takes the common shape of messages (objects, arrays, strings,
// integers, true, false, null) with strings copied a run at a time, and gives up on
// anything else, which the general reader then reads: its values are the general reader's
// on every text it takes.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

namespace zvlsp {

// Nesting deeper than this is left to the general reader.
constexpr int fastjsondepth = 64;

// `body` as JSON into `out`, or false when this reader does not take it (not JSON, or JSON
// with a number that is not an integer, a duplicated key, a \u escape of a lone surrogate,
// nesting past fastjsondepth).
bool readjsonfast(std::string_view body, nlohmann::json& out);

} // namespace zvlsp
