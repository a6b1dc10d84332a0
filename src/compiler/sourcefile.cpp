// Bounded reading of source text: the size check of regular files before reading, and
// reading in growing blocks that stops one byte past the limit.
#include "sourcefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "packer.h"

namespace {

// Blocks of unknown-length input grow from 64 KiB to 64 MiB: few reads for large input,
// and never more than one block beyond what was read.
constexpr std::size_t firstblock = std::size_t{1} << 16;
constexpr std::size_t largestblock = std::size_t{1} << 26;

// Closes the descriptor it was given when it goes.
struct closer {
    int fd;
    ~closer() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::string readsource(int fd, const std::string& name, std::uint64_t limit) {
    const std::string cannotopen = "Could not open file with name: " + firstline(name);
    const std::string toolarge = "Source too large: " + firstline(name);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) error(cannotopen);
    const bool sized = S_ISREG(info.st_mode);
    if (sized && static_cast<std::uint64_t>(info.st_size) > limit) error(toolarge);
    // A regular file comes in one block of its size (and one byte to see that it ended);
    // other input in blocks, joined once it ended within the limit.
    std::vector<std::string> blocks;
    std::size_t next = sized ? static_cast<std::size_t>(info.st_size) + 1 : firstblock;
    std::uint64_t total = 0;
    std::size_t used = 0; // of the last block
    for (;;) {
        if (blocks.empty() || used == blocks.back().size()) {
            blocks.emplace_back(next, '\0');
            used = 0;
            next = std::min(std::max(next * 2, firstblock), largestblock);
        }
        std::string& block = blocks.back();
        // Never more than one byte past the limit.
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(block.size() - used, limit + 1 - total));
        const ssize_t got = ::read(fd, block.data() + used, want);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            error(cannotopen);
        }
        used += static_cast<std::size_t>(got);
        total += static_cast<std::uint64_t>(got);
        if (total > limit) error(toolarge);
    }
    blocks.back().resize(used);
    if (blocks.size() == 1) return std::move(blocks.back());
    std::string text;
    text.reserve(static_cast<std::size_t>(total));
    for (const std::string& block : blocks) text += block;
    return text;
}

std::string readrawfile(const std::string& path) {
    const closer file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) error("Could not open file with name: " + firstline(path));
    return readsource(file.fd, path, maxsourcesize);
}
