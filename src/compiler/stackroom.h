// How much stack a compilation needs and how much the calling thread has left, so that a
// compilation runs on the caller's thread whenever that is safe and on a helper thread
// with a large stack only when it is not.
#pragma once

#include <cstddef>

// The stack the compiler's recursion takes per level of nesting (brackets, blocks,
// inclusions), with room to spare: about 560 bytes were measured for the deepest-reaching
// constructs (calls and indexes) in an optimised build. Builds without optimisation or with
// sanitizers take several times as much.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t stackperlevel = 16384;
#elif !defined(__OPTIMIZE__)
constexpr std::size_t stackperlevel = 8192;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t stackperlevel = 16384;
#else
constexpr std::size_t stackperlevel = 1024;
#endif
#else
constexpr std::size_t stackperlevel = 1024;
#endif
// What a compilation takes besides its nesting (about 40 KiB measured), and the host's
// frames below it.
constexpr std::size_t stackbase = 256 * 1024;

// The stack needed to compile text nested `depth` levels deep.
constexpr std::size_t stackneeded(int depth) {
    return stackbase + stackperlevel * static_cast<std::size_t>(depth < 0 ? 0 : depth);
}

// The bytes of stack left below the caller's frame on this thread; 0 when that cannot be
// told (as on a stack the thread switched to, like a coroutine's).
std::size_t stackleft();

// Called on the main thread by a program's main before it changes any resource limit or
// starts a thread: from then on the main thread's stack is reckoned from the stack limit
// and where the stack began, which spares the thread library's read of /proc/self/maps
// (more instructions than a small program's whole compile). Without the call, or where the
// stack cannot be reckoned so, every thread asks the thread library. A library cannot know
// whether its host changed the stack limit since the program started, which would void the
// reckoning, so only the program itself calls this.
void reckonmainstack();

// Whether this thread's stack holds a compilation of text nested `depth` levels deep.
inline bool stackholds(int depth) {
    return stackleft() >= stackneeded(depth);
}
