// Finding every occurrence of a name.
#include "references.h"

namespace zvlsp {

std::vector<location> referencesat(const nameindex& names, std::size_t offset, bool declarations,
                                   encoding enc) {
    std::vector<location> out;
    const occurrence* here = names.at(0, offset);
    if (!here) return out;
    for (const occurrence* o : names.related(*here)) {
        if (o->write && !declarations) continue;
        out.push_back({names.files()[o->file].uri, names.rangeof(o->file, o->begin, o->end, enc)});
    }
    return out;
}

std::vector<documenthighlight> highlightsat(const nameindex& names, std::size_t offset,
                                            encoding enc) {
    std::vector<documenthighlight> out;
    const occurrence* here = names.at(0, offset);
    if (!here) return out;
    for (const occurrence* o : names.related(*here)) {
        if (o->file != 0) continue;
        out.push_back({names.rangeof(0, o->begin, o->end, enc),
                       o->write ? highlightkind::write : highlightkind::read});
    }
    return out;
}

} // namespace zvlsp
