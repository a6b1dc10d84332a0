// The scanners as they were before the source index, reading every byte: the reference of
// the differential tests. Same signatures and results as those of rawapi.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "compiler.h"
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

} // namespace reference
