// Byte origins kept the plain way, step by step as the compiler traces them: a title node
// per title block holding its whole title, and one node index per code byte. An account
// of the origins independent of their compact record (origins.h), for checking that
// record in the fuzz targets and the unit tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "context.h"
#include "packer.h"

namespace zvcheck {

struct plainorigins {
    std::vector<titlenode> nodes{titlenode{packroot, -1}};
    std::vector<std::int32_t> codeorigins;
    std::vector<std::int32_t> opennodes;

    std::int32_t innermost() const { return opennodes.empty() ? 0 : opennodes.back(); }

    // Makes the compilation `c` tell this account of every step of tracing.
    void listen(compilation& c) {
        c.originlistener = [this](const originevent& e) {
            switch (e.is) {
            case originevent::opened:
                nodes.emplace_back(e.title, innermost(), e.where);
                nodes.back().statement = e.statement;
                opennodes.push_back(static_cast<std::int32_t>(nodes.size() - 1));
                break;
            case originevent::closed:
                if (!opennodes.empty()) opennodes.pop_back();
                break;
            case originevent::emitted:
                codeorigins.insert(codeorigins.end(), e.count, innermost());
                break;
            case originevent::lengthset:
                std::fill_n(codeorigins.begin() + static_cast<std::ptrdiff_t>(e.offset), 4,
                            innermost());
                break;
            case originevent::rolledback:
                codeorigins.resize(e.code);
                nodes.resize(e.nodes, titlenode{{}, -1});
                opennodes.resize(e.opennodes);
                break;
            }
        };
    }
};

} // namespace zvcheck
