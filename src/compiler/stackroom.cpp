// The stack left on the calling thread: on the main thread of a program that asks for it
// from the stack limit and where the stack began, on every other thread from the bounds
// the thread library reports.
#include "stackroom.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#if defined(__GLIBC__)
// Where the main thread's stack began: the C library's record of the stack pointer at
// process entry, above which lie only the arguments, the environment and the auxiliary
// vector.
extern "C" void* __libc_stack_end;
#endif

namespace {

struct stackbounds {
    std::uintptr_t low = 0, high = 0; // high == 0: not known
};

bool within(const stackbounds& bounds, std::uintptr_t at) {
    // Stacks grow down. A frame outside the bounds runs on a stack the thread switched to.
    return bounds.high != 0 && at > bounds.low && at <= bounds.high;
}

// The bounds of the main thread's stack, reckoned without the thread library, which reads
// /proc/self/maps for them (four system calls and about 90 000 instructions, more than a
// small program's whole compile). The stack may grow down to the stack limit below the top
// of its mapping. Above the entry point the kernel put the arguments and the environment,
// which it holds to a quarter of the limit or to `argumentsfloor`, whichever is more, and
// the auxiliary vector: they are counted as that much and `abovearguments` more, so the
// bounds only ever fall short of the true ones. Not known when the limit is unlimited or
// larger than `largestlimit` (the kernel may then lay out memory differently), nor on
// other C libraries.
stackbounds mainstack() {
    stackbounds b;
#if defined(__GLIBC__)
    constexpr std::uintptr_t argumentsfloor = 128 * 1024;
    constexpr std::uintptr_t abovearguments = 64 * 1024;
    constexpr rlim_t largestlimit = rlim_t{1} << 30;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > largestlimit) {
        return b;
    }
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto entry = reinterpret_cast<std::uintptr_t>(__libc_stack_end);
    const std::uintptr_t limitbytes = limit.rlim_cur;
    const std::uintptr_t arguments =
        limitbytes / 4 > argumentsfloor ? limitbytes / 4 : argumentsfloor;
    const std::uintptr_t reserved = arguments + abovearguments;
    if (entry == 0 || page == 0 || limitbytes <= reserved) return b;
    b.high = (entry + page - 1) & ~(page - 1);
    b.low = b.high - (limitbytes - reserved);
#endif
    return b;
}

// The bounds of this thread's own stack as the thread library reports them; each thread
// asks once. The bounds are a fact of the thread, not state of any compilation.
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

// The main thread and its reckoned bounds, once reckonmainstack has been called.
struct mainthread {
    pthread_t thread{};
    stackbounds bounds;
};
std::atomic<const mainthread*> reckoned{nullptr};

} // namespace

void reckonmainstack() {
    if (reckoned.load(std::memory_order_acquire) != nullptr) return;
    static const mainthread main{pthread_self(), mainstack()};
    if (main.bounds.high != 0) reckoned.store(&main, std::memory_order_release);
}

std::size_t stackleft() {
#ifdef __EMSCRIPTEN__
    // WebAssembly's stack is the engine's; its bounds are not reported. The caller falls
    // back to a helper thread, or compiles here where there are no threads.
    return 0;
#endif
    int here = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&here);
    const mainthread* main = reckoned.load(std::memory_order_acquire);
    if (main != nullptr && pthread_equal(main->thread, pthread_self())) {
        return within(main->bounds, at) ? at - main->bounds.low : 0;
    }
    const stackbounds& bounds = threadstack();
    if (!within(bounds, at)) return 0;
    return at - bounds.low;
}
