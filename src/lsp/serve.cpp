// The read-dispatch-write loop over streams.
#include "serve.h"

#include "framing.h"
#include "jsontext.h"
#include "server.h"

namespace zvlsp {

int serve(std::istream& in, std::ostream& out, std::ostream& log) {
    server lsp([&](nlohmann::json message) {
        // Text from files may hold bytes that are no UTF-8; JSON must not.
        zvtool::cleanstrings(message);
        writeframe(out, message.dump());
    });
    framereader reader(in);
    for (;;) {
        frame f = reader.next();
        switch (f.what) {
        case frame::kind::end:
            log << "zv lsp: the input ended before an exit notification\n";
            return 1;
        case frame::kind::bad:
            log << "zv lsp: unreadable message: " << f.problem << "\n";
            lsp.rejectframe(f.problem);
            break;
        case frame::kind::message:
            lsp.receive(f.body);
            if (lsp.exited()) return lsp.exitstatus();
            break;
        }
    }
}

} // namespace zvlsp
