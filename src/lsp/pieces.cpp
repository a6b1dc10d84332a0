// Counting and writing a reply's text in pieces.
#include "pieces.h"

#include <algorithm>
#include <charconv>

namespace zvlsp {

void piecewriter::spill(std::string_view s) {
    if (room.empty()) {
        if (!s.empty()) sink(s);
        return;
    }
    while (!s.empty()) {
        const std::size_t step = std::min(room.size() - used, s.size());
        std::copy_n(s.data(), step, room.data() + used);
        used += step;
        s.remove_prefix(step);
        if (used == room.size()) finish();
    }
}

void piecewriter::spill(std::uint32_t n) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    spill(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void piecewriter::finish() {
    if (used == 0) return;
    sink(std::string_view(room.data(), used));
    used = 0;
}

} // namespace zvlsp
