// The stack left on the calling thread, from the bounds the thread library reports.
#include "stackroom.h"

#include <pthread.h>

#include <cstdint>

namespace {

struct stackbounds {
    std::uintptr_t low = 0, high = 0; // high == 0: not known
};

// The bounds of this thread's own stack. Asking costs a read of /proc/self/maps on the
// main thread (about 80 µs), so each thread asks once; the bounds are a fact of the thread,
// not state of any compilation.
const stackbounds& threadstack() {
    thread_local const stackbounds bounds = [] {
        stackbounds b;
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0) return b;
        void* address = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attributes, &address, &size) == 0 && address != nullptr) {
            std::size_t guard = 0;
            pthread_attr_getguardsize(&attributes, &guard);
            b.low = reinterpret_cast<std::uintptr_t>(address) + guard;
            b.high = reinterpret_cast<std::uintptr_t>(address) + size;
        }
        pthread_attr_destroy(&attributes);
        return b;
    }();
    return bounds;
}

} // namespace

std::size_t stackleft() {
#ifdef __EMSCRIPTEN__
    // WebAssembly's stack is the engine's; its bounds are not reported. The caller falls
    // back to a helper thread, or compiles here where there are no threads.
    return 0;
#endif
    const stackbounds& bounds = threadstack();
    int here = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&here);
    // Stacks grow down. A frame outside the bounds runs on a stack the thread switched to.
    if (bounds.high == 0 || at <= bounds.low || at > bounds.high) return 0;
    return at - bounds.low;
}
