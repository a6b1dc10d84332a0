// Text in JSON documents. Program text, file names and the messages that quote them are
// bytes; JSON is UTF-8. Every document a tool writes passes through cleanstrings before it
// is dumped, so that no input can make the writer fail: each byte that is not part of a
// well-formed UTF-8 character becomes U+FFFD (utf8::clean), and columns counted in the
// original text count the same characters in the document.
#pragma once

#include <nlohmann/json.hpp>

#include "utf8.h"

namespace zvtool {

// Cleans every string value of `document` in place (keys are the tools' own names).
inline void cleanstrings(nlohmann::json& document) {
    if (document.is_string()) {
        auto& text = document.get_ref<std::string&>();
        text = utf8::clean(text);
    } else if (document.is_structured()) {
        for (auto& element : document) cleanstrings(element);
    }
}

} // namespace zvtool
