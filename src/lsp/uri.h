// file:// URIs and file system paths, both ways, with percent-encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zvlsp {

// The path of a file: URI (`file:///a%20b/c.zv` is `/a b/c.zv`); std::nullopt for other
// schemes or a malformed escape.
std::optional<std::string> uritopath(std::string_view uri);

// The file: URI of an absolute path; bytes outside the unreserved set and '/' are escaped.
std::string pathtouri(std::string_view path);

} // namespace zvlsp
