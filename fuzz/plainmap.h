// The description map written the plain way, record by record as the compiler writes them:
// the count (when there is one), the title and a zero byte; a closing record repeats the
// title open again, kept on a stack of strings. An account of the map independent of its
// compact record, for checking that record in the fuzz targets and the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "context.h"
#include "packer.h"

namespace zvcheck {

struct plainmap {
    bytelist bytes;
    std::vector<std::string> open{packroot};

    // Makes the compilation `c` tell this map of every record it writes.
    void listen(compilation& c) {
        c.recordlistener = [this](bool opens, bool hascount, std::int32_t count,
                                  std::string_view title) {
            if (hascount) {
                const auto operand = intoperand(count);
                bytes.insert(bytes.end(), operand.begin(), operand.end());
            }
            if (opens) {
                open.emplace_back(title);
            } else {
                open.pop_back();
                title = open.back();
            }
            bytes.insert(bytes.end(), title.begin(), title.end());
            bytes.push_back(0);
        };
    }
};

} // namespace zvcheck
