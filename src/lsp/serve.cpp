// The read-dispatch-write loop over streams. A reader thread takes frames off the input as
// they come and queues them; the loop hands each to the server and tells it whether more
// wait, so that a burst of edits (keys typed while a large document compiles) is applied
// at once and compiled once, in its newest state.
#include "serve.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "framing.h"
#include "server.h"

namespace zvlsp {

namespace {

// Frames read but not yet handled, shared by the reader thread and the loop.
struct inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<frame> frames;
    bool ended = false; // the reader has queued its last frame (an `end`)
};

void readall(std::istream& in, const std::shared_ptr<inbox>& box) {
    framereader reader(in);
    for (;;) {
        frame f = reader.next();
        const bool last = f.what == frame::kind::end;
        {
            const std::lock_guard<std::mutex> hold(box->lock);
            box->frames.push_back(std::move(f));
            box->ended = last;
        }
        box->arrived.notify_one();
        if (last) return;
    }
}

} // namespace

int serve(std::istream& in, std::ostream& out, std::ostream& log) {
    server lsp([&](const nlohmann::json& message) {
        // Text from files may hold bytes that are no UTF-8; JSON must not.
        writeframe(out, message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    });
    auto box = std::make_shared<inbox>();
    std::thread reader(readall, std::ref(in), box);
    const auto finish = [&](int status) {
        // Once the input has ended the reader is done; otherwise it waits on input that
        // may never come (the editor keeps the pipe open), and the process ends without it.
        bool ended = false;
        {
            const std::lock_guard<std::mutex> hold(box->lock);
            ended = box->ended;
        }
        if (ended) {
            reader.join();
        } else {
            reader.detach();
        }
        return status;
    };
    for (;;) {
        frame f;
        bool more = false;
        {
            std::unique_lock<std::mutex> hold(box->lock);
            box->arrived.wait(hold, [&] { return !box->frames.empty(); });
            f = std::move(box->frames.front());
            box->frames.pop_front();
            more = !box->frames.empty() && box->frames.front().what == frame::kind::message;
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
            lsp.receive(f.body, more);
            if (lsp.exited()) return finish(lsp.exitstatus());
            break;
        }
    }
}

} // namespace zvlsp
