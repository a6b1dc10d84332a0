// The scanners as they were before the source index, reading every byte: the reference of
// the differential tests. Same signatures and results as those of rawapi.h.
#pragma once

#include <string>
#include <string_view>

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

} // namespace reference
