// Helpers shared by the unit tests: byte lists written as hex text, and the check that a
// call ends compilation with a given message.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

#include "packer.h"

// Hex bytes ("0e", runs such as "00000001") and "quoted text" as its raw bytes.
inline bytelist hex(std::string_view text) {
    bytelist out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '"') {
            std::size_t end = text.find('"', i + 1);
            for (char c : text.substr(i + 1, end - i - 1)) out.push_back(static_cast<byte>(c));
            i = end + 1;
        } else {
            out.push_back(
                static_cast<byte>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
            i += 2;
        }
    }
    return out;
}

// Runs `f`, which must throw `fatalerror` carrying `message`.
template <class F> void expectfatal(F f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const fatalerror& e) { EXPECT_EQ(e.message, message); }
}
