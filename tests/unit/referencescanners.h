// The scanners as they were before the source index, reading every byte: the reference of
// the differential tests. Same signatures and results as those of rawapi.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler.h"
#include "parser.h"
#include "rawapi.h"

namespace reference {

std::string_view seekstring(std::string_view& target, const stringlist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking);
std::string_view seekstring(std::string_view& target, const stoplist& blacklist,
                            const delimmap& ignorance, int blacklistmode, bool doalphachecking);
std::string_view reversedseekstring(std::string_view& target, const stringlist& blacklist,
                                    const delimmap& ignorance);
std::string_view reversedseekstring(std::string_view& target, const stoplist& blacklist,
                                    const delimmap& ignorance);
viewlist getargs(std::string_view& target, const std::string& seperator, const stringlist& ends);

// The nesting check reading every byte: the deepest nesting of `text` and the offset of the
// opener that first went deeper than `limit` (compiler.h, `bracketnesting`).
nesting bracketnesting(std::string_view text, std::int64_t limit);

// The statement splitter reading every byte (parser.h, `parsewords`), without the block
// masks, the 16-byte searches or the remembered blocks. How a split came out: the words
// and statement ends, the offsets of the stray "]" reported, and the exit status (0 when
// it returned) with the offset of the closer that ended it (for 52 and 54).
struct splitoutcome {
    splitwords split;
    std::vector<std::size_t> strays;
    int status = 0;
    std::size_t at = 0;
};
splitoutcome parsewords(std::string_view target);

} // namespace reference
