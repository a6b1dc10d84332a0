// The byte-code decoder, verifier and listings of zvdis. Decoding is one loop over the file
// with an explicit stack of open block ends, so a file of deeply nested blocks costs memory
// in proportion to its nesting and never the call stack.
#include "bytecodereader.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string hexbyte(byte b) {
    char buffer[3];
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned>(b));
    return buffer;
}

std::int32_t readint(const std::vector<std::uint8_t>& code, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | code[at + i];
    return static_cast<std::int32_t>(value);
}

const char* typeword(byte type) {
    switch (type) {
    case TYPE_INT:
        return "int";
    case TYPE_DECIMAL:
        return "decimal";
    case TYPE_STRING:
        return "string";
    case TYPE_OBJECT:
        return "object";
    case TYPE_LIST:
        return "list";
    case TYPE_DICT:
        return "dict";
    case TYPE_BLOCK:
        return "block";
    }
    return "?";
}

// The one type byte that an opcode of `kind` may carry, or -1 for any.
int requiredtype(operandkind kind) {
    switch (kind) {
    case operandkind::name:
        return TYPE_STRING;
    case operandkind::count:
        return TYPE_INT;
    case operandkind::block:
        return TYPE_BLOCK;
    default:
        return -1;
    }
}

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Decodes the instruction at `pos`, which lies before `end` (the end of the innermost block
// or of the file). Fills `ins` or returns the fault.
std::optional<std::string> decode(const std::vector<std::uint8_t>& code, std::size_t pos,
                                  std::size_t end, bool inblock, instruction& ins) {
    ins.reset(pos);
    const byte op = code[pos];
    if (op == END_MARK) return "end mark 0xff where an instruction should stand";
    ins.info = findopcode(op);
    if (ins.info == nullptr) return "unknown opcode 0x" + hexbyte(op);
    // Only a fault's message spells the mnemonic out.
    const char* const name = ins.info->mnemonic;
    if (ins.info->operand == operandkind::none) {
        ins.size = 1;
        return std::nullopt;
    }
    if (end - pos < 2) return std::string(name) + ": type byte missing";
    ins.typed = true;
    ins.type = code[pos + 1];
    if (typebytename(ins.type) == nullptr)
        return std::string(name) + ": unknown type byte 0x" + hexbyte(ins.type);
    const int required = requiredtype(ins.info->operand);
    if (required >= 0 && ins.type != required)
        return std::string(name) + ": operand of type " + typebytename(ins.type) + ", expected " +
               typebytename(static_cast<byte>(required));
    const std::size_t payload = pos + 2;
    const std::size_t left = end - payload;
    auto needs = [&](std::size_t n) -> std::optional<std::string> {
        if (left >= n) return std::nullopt;
        return std::string(name) + ": " + typeword(ins.type) + " operand truncated (needs " +
               std::to_string(n) + " bytes, " + std::to_string(left) + " left)";
    };
    switch (ins.type) {
    case TYPE_INT:
        if (auto fault = needs(4)) return fault;
        ins.value = readint(code, payload);
        ins.size = 6;
        break;
    case TYPE_DECIMAL:
        if (auto fault = needs(8)) return fault;
        ins.value = readint(code, payload);
        ins.digit = readint(code, payload + 4);
        ins.size = 10;
        break;
    case TYPE_STRING: {
        auto first = code.begin() + static_cast<std::ptrdiff_t>(payload);
        auto last = code.begin() + static_cast<std::ptrdiff_t>(end);
        auto zero = std::find(first, last, 0);
        if (zero == last)
            return std::string(name) + ": string operand without its terminating 0x00";
        ins.text.assign(reinterpret_cast<const char*>(code.data() + payload),
                        static_cast<std::size_t>(zero - first));
        ins.size = 2 + ins.text.size() + 1;
        break;
    }
    case TYPE_OBJECT:
        ins.size = 2;
        break;
    case TYPE_LIST:
    case TYPE_DICT: {
        std::size_t at = payload, marks = 0;
        while (at < end && code[at] == ITEM_MARK) ++at, ++marks;
        if (at == end)
            return std::string(name) + ": " + typeword(ins.type) + " payload without its end mark";
        if (code[at] != END_MARK)
            return std::string(name) + ": " + typeword(ins.type) + " payload holds byte 0x" +
                   hexbyte(code[at]) + " where a mark should stand";
        if (ins.type == TYPE_DICT && marks % 2 != 0)
            return std::string(name) + ": dict payload holds an odd number of item marks (" +
                   std::to_string(marks) + ")";
        ins.items = ins.type == TYPE_DICT ? marks / 2 : marks;
        ins.size = at + 1 - pos;
        break;
    }
    case TYPE_BLOCK: {
        if (auto fault = needs(4)) return fault;
        ins.value = readint(code, payload);
        const std::size_t length = static_cast<std::uint32_t>(ins.value);
        if (length > left - 4)
            return std::string(name) + ": block of " + std::to_string(length) +
                   " bytes runs past the end of " + (inblock ? "the enclosing block" : "the file") +
                   " (" + counted(left - 4, "byte", "bytes") + " left)";
        ins.size = 6;
        break;
    }
    }
    return std::nullopt;
}

} // namespace

std::optional<bytecodefault> walkbytecode(const std::vector<std::uint8_t>& code,
                                          const std::function<void(const instruction&)>& visit) {
    return walkbytecode(code, 0, code.size(), visit);
}

std::optional<bytecodefault> walkbytecode(const std::vector<std::uint8_t>& code, std::size_t from,
                                          std::size_t to,
                                          const std::function<void(const instruction&)>& visit) {
    to = std::min(to, code.size());
    std::vector<std::size_t> ends{to}; // innermost block end on top
    std::size_t pos = std::min(from, to);
    instruction ins;
    for (;;) {
        while (!ends.empty() && pos == ends.back()) ends.pop_back();
        if (ends.empty()) return std::nullopt;
        if (auto what = decode(code, pos, ends.back(), ends.size() > 1, ins))
            return bytecodefault{pos, *what};
        ins.depth = ends.size() - 1;
        visit(ins);
        pos += ins.size;
        if (ins.typed && ins.type == TYPE_BLOCK)
            ends.push_back(pos + static_cast<std::uint32_t>(ins.value));
    }
}

std::optional<bytecodefault> verifybytecode(const std::vector<std::uint8_t>& code) {
    return walkbytecode(code, [](const instruction&) {});
}

std::string quotetext(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c >= 0x20 && c < 0x7f)
                out += static_cast<char>(c);
            else
                out += "\\x" + hexbyte(c);
        }
    }
    return out + "\"";
}

std::string describeinstruction(const instruction& ins) {
    std::string out = ins.info->mnemonic;
    if (!ins.typed) return out;
    switch (ins.info->operand) {
    case operandkind::name:
        return out + " " + quotetext(ins.text);
    case operandkind::count:
        return out + " " + std::to_string(ins.value);
    default:
        break;
    }
    out += " ";
    out += typeword(ins.type);
    switch (ins.type) {
    case TYPE_INT:
        return out + " " + std::to_string(ins.value);
    case TYPE_DECIMAL:
        // The whole part carries the sign; the digit is one decimal place, cut off.
        if (ins.digit >= 0 && ins.digit <= 9)
            return out + " " + std::to_string(ins.value) + "." + std::to_string(ins.digit);
        return out + " " + std::to_string(ins.value) + " digit " + std::to_string(ins.digit);
    case TYPE_STRING:
        return out + " " + quotetext(ins.text);
    case TYPE_LIST:
        return out + " (" + counted(ins.items, "element", "elements") + ")";
    case TYPE_DICT:
        return out + " (" + counted(ins.items, "pair", "pairs") + ")";
    case TYPE_BLOCK:
        return out + " (" + counted(static_cast<std::uint32_t>(ins.value), "byte", "bytes") + ")";
    default:
        return out;
    }
}

namespace {

constexpr std::size_t shownbytes = 8;
constexpr int bytescolumn = static_cast<int>(shownbytes * 3 - 1 + 4); // "xx " * 8 + "..."

std::string margin(std::size_t indent) {
    return std::string(indent * 2, ' ');
}

// The blank space that stands in place of the offset and byte columns.
const std::string titlemargin = std::string(6 + 2 + bytescolumn + 2, ' ');

} // namespace

std::string listingline(const instruction& ins, const std::vector<std::uint8_t>& code,
                        std::size_t indent) {
    std::string bytes;
    const std::size_t shown = std::min(ins.size, shownbytes);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) bytes += ' ';
        bytes += hexbyte(code[ins.offset + i]);
    }
    if (ins.size > shownbytes) bytes += " ...";
    char head[64];
    std::snprintf(head, sizeof head, "%6zu  %-*s  ", ins.offset, bytescolumn, bytes.c_str());
    return head + margin(indent) + describeinstruction(ins);
}

std::optional<bytecodefault> listbytecode(const std::vector<std::uint8_t>& code,
                                          std::ostream& out) {
    return walkbytecode(
        code, [&](const instruction& ins) { out << listingline(ins, code, ins.depth) << '\n'; });
}

std::optional<bytecodefault> listannotated(const std::vector<std::uint8_t>& code,
                                           const std::vector<titlenode>& nodes,
                                           const std::vector<std::int32_t>& origins,
                                           std::ostream& out) {
    std::vector<std::int32_t> open; // title blocks shown and still open, outermost first
    std::vector<std::int32_t> path;
    auto valid = [&](std::int32_t n) {
        return n > 0 && static_cast<std::size_t>(n) < nodes.size();
    };
    return walkbytecode(code, [&](const instruction& ins) {
        std::int32_t node = ins.offset < origins.size() ? origins[ins.offset] : 0;
        // The chain of title blocks from the root's child down to `node`; a malformed
        // parent link (out of range, or a cycle) ends the chain.
        path.clear();
        while (valid(node) && path.size() < nodes.size()) {
            path.push_back(node);
            node = nodes[static_cast<std::size_t>(node)].parent;
        }
        std::reverse(path.begin(), path.end());
        std::size_t common = 0;
        while (common < open.size() && common < path.size() && open[common] == path[common])
            ++common;
        open.resize(common);
        for (std::size_t i = common; i < path.size(); ++i) {
            const titlenode& shown = nodes[static_cast<std::size_t>(path[i])];
            // A label (the statement's file and line) stands in the margin, left-aligned.
            if (shown.label.empty()) {
                out << titlemargin;
            } else if (shown.label.size() + 1 < titlemargin.size()) {
                out << shown.label << titlemargin.substr(shown.label.size());
            } else {
                out << shown.label << ' ';
            }
            out << margin(i) << quotetext(shown.title) << '\n';
            open.push_back(path[i]);
        }
        out << listingline(ins, code, path.size()) << '\n';
    });
}

std::string faultline(const bytecodefault& fault) {
    return "zvdis: offset " + std::to_string(fault.offset) + ": " + fault.what;
}

std::string hexstring(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (byte b : bytes) out += hexbyte(b);
    return out;
}
