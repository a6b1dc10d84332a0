// Conversion between file: URIs and paths.
#include "uri.h"

namespace zvlsp {

namespace {

int hexvalue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool unreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

} // namespace

std::optional<std::string> uritopath(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (!uri.starts_with(scheme)) return std::nullopt;
    uri.remove_prefix(scheme.size());
    // An authority ("localhost" or empty) stands before the path.
    const std::size_t slash = uri.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    uri.remove_prefix(slash);
    std::string path;
    for (std::size_t at = 0; at < uri.size(); ++at) {
        if (uri[at] == '?' || uri[at] == '#') break;
        if (uri[at] != '%') {
            path += uri[at];
            continue;
        }
        if (at + 2 >= uri.size()) return std::nullopt;
        const int high = hexvalue(uri[at + 1]), low = hexvalue(uri[at + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        path += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return path;
}

std::string pathtouri(std::string_view path) {
    static const char digits[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : path) {
        if (unreserved(c)) {
            uri += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            uri += '%';
            uri += digits[byte >> 4];
            uri += digits[byte & 15];
        }
    }
    return uri;
}

} // namespace zvlsp
