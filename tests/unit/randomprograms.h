// Random programs for the differential tests of the compiler's records (the description
// map, the byte origins): every statement form, nested blocks deep and long, names that
// repeat far apart, escapes (titles that are no source text), word operators, and now and
// then something malformed.
#pragma once

#include <initializer_list>
#include <random>
#include <string>
#include <string_view>

namespace {

// The pieces, joined (GCC 12 warns falsely about `"literal" + std::string`).
std::string cat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view piece : pieces) out.append(piece);
    return out;
}

class programs {
  public:
    explicit programs(unsigned seed) : random(seed) {}

    std::string next() {
        std::string out;
        const int statements = pick(1, 12);
        for (int i = 0; i < statements; ++i) out += statement(pick(0, 6), 0);
        return out;
    }

  private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    std::string name() {
        static const char* const names[] = {
            "a",     "b1",    "Gg",     "@m",
            "total", "x.y.z", "l[i+1]", "counter_with_a_rather_long_name_for_the_tag"};
        return names[pick(0, 7)];
    }

    std::string operand(int depth) {
        switch (depth <= 0 ? pick(0, 6) : pick(0, 12)) {
        case 0:
            return name();
        case 1:
            return std::to_string(pick(-5, 100000));
        case 2:
            return "3.25";
        case 3:
            return "\"text\"";
        case 4:
            return "\"line\\nbreak\"";
        case 5:
            return "\"esc\\ aped\"";
        case 6:
            return "f()";
        case 7:
            return cat({"f(", expression(depth - 1), ", ", expression(depth - 1), ")"});
        case 8:
            return cat({"[", expression(depth - 1), ", ", expression(depth - 1), "]"});
        case 9:
            return cat({"{\"k\": ", expression(depth - 1), "}"});
        case 10:
            return cat({"f((", expression(depth - 1), " and ", expression(depth - 1), "))"});
        case 11:
            return cat({"g(1)(2).", name()});
        default:
            return cat({"f((not ", name(), "))"});
        }
    }

    std::string expression(int depth) {
        static const char* const ops[] = {"+", "-", "*", "/", "==", "!=", ">=", "<"};
        std::string out = operand(depth);
        for (int i = pick(0, 3); i > 0; --i) out += cat({ops[pick(0, 7)], operand(depth)});
        return out;
    }

    std::string body(int depth, int indent) {
        std::string out;
        // Now and then a long body, so that counts and blocks grow large.
        const int statements = chance(10) ? pick(20, 60) : pick(0, 4);
        for (int i = 0; i < statements; ++i) out += statement(depth, indent + 4);
        return out;
    }

    std::string statement(int depth, int indent) {
        const std::string pad(static_cast<std::size_t>(indent), ' ');
        const std::string open = " {\n", close = pad + "}\n";
        const int form = depth > 0 ? pick(0, 12) : pick(0, 4);
        switch (form) {
        case 0:
            return pad + name() + " = " + expression(2) + "\n";
        case 1:
            return pad + expression(2) + "\n";
        case 2:
            return pad + "return " + expression(1) + "\n";
        case 3:
            return pad + "also lib\n";
        case 4:
            if (chance(20)) return pad + "x = (1\n"; // unclosed
            return pad + "y = " + expression(3) + "\n";
        case 5:
            return pad + "if " + expression(1) + open + body(depth - 1, indent) + close;
        case 6:
            return pad + "while " + expression(1) + open + body(depth - 1, indent) + close;
        case 7:
            return pad + "for " + expression(1) + " as e" + open + body(depth - 1, indent) + close;
        case 8:
            return pad + "forever" + open + body(depth - 1, indent) + close;
        case 9:
            return pad + "def f(a, b)" + open + body(depth - 1, indent) + close;
        case 10:
            return pad + "class C" + open + pad + "    def m(a)" + open +
                   body(depth - 1, indent + 4) + pad + "    }\n" + close;
        case 11:
            return pad + "$@ " + name() + open + body(depth - 1, indent) + close;
        default:
            return pad + "x = " + std::string(static_cast<std::size_t>(pick(1, 3)), ']') + "\n";
        }
    }

    std::mt19937 random;
};

} // namespace
