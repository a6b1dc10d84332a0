// Test helpers for the editing features: applying the TextEdits of a WorkspaceEdit to a
// text, and the labels of a completion list.
#pragma once

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "text.h"

namespace lsptest {

// `text` with the TextEdits `edits` applied (they do not overlap; applied last first).
inline std::string applyedits(std::string text, const nlohmann::json& edits,
                              zvlsp::encoding enc = zvlsp::encoding::utf16) {
    std::vector<nlohmann::json> list(edits.begin(), edits.end());
    const auto offset = [&](const nlohmann::json& p) {
        return zvlsp::offsetat(
            text, {p["line"].get<std::uint32_t>(), p["character"].get<std::uint32_t>()}, enc);
    };
    std::vector<std::pair<std::size_t, const nlohmann::json*>> ordered;
    for (const nlohmann::json& e : list) ordered.emplace_back(offset(e["range"]["start"]), &e);
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [begin, e] : ordered) {
        const std::size_t end = offset((*e)["range"]["end"]);
        text.replace(begin, end - begin, (*e)["newText"].get<std::string>());
    }
    return text;
}

inline std::vector<std::string> labels(const nlohmann::json& completion) {
    std::vector<std::string> out;
    for (const nlohmann::json& item : completion["items"]) out.push_back(item["label"]);
    return out;
}

inline bool holds(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

} // namespace lsptest
