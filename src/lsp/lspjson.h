// JSON shapes shared by the features: LSP Range and Location from byte offsets.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "text.h"

namespace zvlsp {

inline nlohmann::json positionjson(position p) {
    return {{"line", p.line}, {"character", p.character}};
}

// The LSP Range of the bytes `begin`..`end` of the text `lines` maps.
inline nlohmann::json rangejson(const linemap& lines, std::size_t begin, std::size_t end) {
    return {{"start", positionjson(lines.at(begin))}, {"end", positionjson(lines.at(end))}};
}

inline nlohmann::json rangejson(std::string_view text, std::size_t begin, std::size_t end,
                                encoding enc) {
    return rangejson(linemap(text, enc), begin, end);
}

inline nlohmann::json locationjson(const std::string& uri, nlohmann::json range) {
    return {{"uri", uri}, {"range", std::move(range)}};
}

} // namespace zvlsp
