// The read-dispatch-write loop over streams. A reader thread takes frames off the input as
// they come and queues them; the loop hands each to the server and tells it whether more
// wait, so that a burst of edits (keys typed while a large document compiles) is applied
// at once and compiled once, in its newest state.
#include "serve.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "framing.h"
#include "jsontext.h"
#include "server.h"

namespace zvlsp {

namespace {

// Frames read but not yet handled, shared by the reader thread and the loop.
struct inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<frame> frames;
    bool done = false; // the reader has queued its last frame and reads no more
};

// Whether `f` is the exit notification, after which the server reads nothing more. Only a
// body holding the JSON string "exit" outside another string (where its quotes would be
// escaped) is parsed to tell.
bool exitframe(const frame& f) {
    if (f.what != frame::kind::message) return false;
    bool candidate = false;
    for (std::size_t at = f.body.find("\"exit\""); at != std::string::npos && !candidate;
         at = f.body.find("\"exit\"", at + 1)) {
        candidate = at == 0 || f.body[at - 1] != '\\';
    }
    if (!candidate) return false;
    const nlohmann::json m = nlohmann::json::parse(f.body, nullptr, false);
    return m.is_object() && !m.contains("id") && m.value("method", "") == "exit";
}

void readall(std::istream& in, const std::shared_ptr<inbox>& shared) {
    inbox& box = *shared;
    framereader reader(in);
    for (;;) {
        frame f = reader.next();
        // The reader stops after the exit notification, so that it never reads past the
        // end of the session (and the loop can wait for it).
        const bool last = f.what == frame::kind::end || exitframe(f);
        {
            const std::lock_guard<std::mutex> hold(box.lock);
            box.frames.push_back(std::move(f));
            box.done = last;
        }
        box.arrived.notify_one();
        if (last) return;
    }
}

} // namespace

int serve(std::istream& in, std::ostream& out, std::ostream& log) {
    server lsp(
        [&](nlohmann::json message) {
            // Text from files may hold bytes that are no UTF-8; JSON must not.
            zvtool::cleanstrings(message);
            writeframe(out, message.dump());
        },
        [&](std::string_view message) { writeframe(out, message); },
        [&](std::size_t length, const bodywriter& body) { writeframe(out, length, body); });
    const auto shared = std::make_shared<inbox>();
    inbox& box = *shared;
    // An input stream tied to an output (std::cin to std::cout) flushes that output before
    // every read: from the reader thread, while this one writes. Untie it for the session.
    std::ostream* const tied = in.tie(nullptr);
    std::thread reader(readall, std::ref(in), shared);
    // The loop returns after the input's end or the exit notification, both of which end
    // the reader too. Should the reader not have taken the exit for one (spelt with
    // escapes), it waits on input: on the process's standard input, which an editor may
    // keep open, it is left to end with the process; any other stream ends, and is waited
    // for.
    const auto finish = [&](int status) {
        bool done = false;
        {
            const std::lock_guard<std::mutex> hold(box.lock);
            done = box.done;
        }
        if (!done && &in == &std::cin) {
            reader.detach();
            return status;
        }
        reader.join();
        in.tie(tied);
        return status;
    };
    for (;;) {
        frame f;
        bool more = false;
        {
            std::unique_lock<std::mutex> hold(box.lock);
            box.arrived.wait(hold, [&] { return !box.frames.empty(); });
            f = std::move(box.frames.front());
            box.frames.pop_front();
            more = !box.frames.empty() && box.frames.front().what == frame::kind::message;
        }
        switch (f.what) {
        case frame::kind::end:
            log << "zv lsp: the input ended before an exit notification\n";
            return finish(1);
        case frame::kind::bad:
            log << "zv lsp: unreadable message: " << f.problem << "\n";
            lsp.rejectframe(f.problem);
            break;
        case frame::kind::message:
            lsp.receive(std::move(f.body), more);
            if (lsp.exited()) return finish(lsp.exitstatus());
            break;
        }
    }
}

} // namespace zvlsp
