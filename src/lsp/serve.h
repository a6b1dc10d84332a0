// The server over byte streams: reads framed messages from `in`, answers on `out`, and
// reports unreadable frames on `log`. Returns the exit status: the server's once it
// received `exit`, 1 when the input ends first.
#pragma once

#include <istream>
#include <ostream>

namespace zvlsp {

int serve(std::istream& in, std::ostream& out, std::ostream& log);

} // namespace zvlsp
