// Reading and writing framed messages.
#include "framing.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

namespace zvlsp {

namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

frame bad(std::string problem) {
    return frame{frame::kind::bad, {}, std::move(problem)};
}

} // namespace

framereader::line framereader::readline(std::string& out) {
    out.clear();
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) return line::end;
        if (c == '\n') break;
        if (out.size() >= headerlimit) {
            in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
            return in ? line::toolong : line::end;
        }
        out += static_cast<char>(c);
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return line::ok;
}

frame framereader::next() {
    std::string header;
    {
        // One header block: lines up to an empty one.
        std::optional<std::size_t> length;
        std::string problem;
        bool any = false;
        for (;;) {
            const line got = readline(header);
            if (got == line::end) return frame{};
            if (got == line::toolong) {
                problem = "header line longer than " + std::to_string(headerlimit) + " bytes";
                any = true;
                continue;
            }
            if (header.empty()) {
                if (any) break;
                continue; // blank lines between messages
            }
            const std::size_t colon = header.find(':');
            if (skipping &&
                (colon == std::string::npos ||
                 !iequals(trim(std::string_view(header).substr(0, colon)), "Content-Length"))) {
                continue;
            }
            skipping = false;
            any = true;
            if (colon == std::string::npos) {
                problem = "malformed header line";
                continue;
            }
            const std::string_view name = trim(std::string_view(header).substr(0, colon));
            const std::string_view value = trim(std::string_view(header).substr(colon + 1));
            if (!iequals(name, "Content-Length")) continue; // Content-Type and others
            std::size_t n = 0;
            const auto [end, err] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (err != std::errc{} || end != value.data() + value.size()) {
                problem = "Content-Length is not a number";
            } else if (length) {
                problem = "Content-Length given twice";
            } else {
                length = n;
            }
        }
        if (problem.empty() && !length) problem = "no Content-Length header";
        if (problem.empty() && *length > limit) {
            // Skip the body, so that the next message is read from its start.
            for (std::size_t left = *length; left > 0 && in;) {
                const std::size_t step = std::min<std::size_t>(left, std::size_t{1} << 20);
                in.ignore(static_cast<std::streamsize>(step));
                left -= step;
            }
            return bad("message of " + std::to_string(*length) + " bytes is over the limit of " +
                       std::to_string(limit) + " bytes");
        }
        if (!problem.empty()) {
            // The body's length is unknown: skip to a header block that names one.
            skipping = true;
            return bad(problem);
        }
        // Read in steps, so that a length the stream does not hold costs no memory.
        frame out{frame::kind::message, {}, {}};
        while (out.body.size() < *length) {
            const std::size_t have = out.body.size();
            const std::size_t step = std::min<std::size_t>(*length - have, 1 << 16);
            out.body.resize(have + step);
            in.read(out.body.data() + have, static_cast<std::streamsize>(step));
            if (static_cast<std::size_t>(in.gcount()) != step) return frame{};
        }
        return out;
    }
}

void writeframe(std::ostream& out, std::string_view body) {
    out << "Content-Length: " << body.size() << "\r\n\r\n" << body;
    out.flush();
}

void writeframe(std::ostream& out, std::size_t length, const bodywriter& body) {
    out << "Content-Length: " << length << "\r\n\r\n";
    body([&](std::string_view piece) {
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    });
    out.flush();
}

} // namespace zvlsp
