// Code generation: the compiler object. A `compiler` holds the compilation it works on
// (context.h) and has as members the statement compiler `compilecode` with every statement
// form, the expression compiler `handleexpr`, value access `handleget`, assignment targets
// `handleset`, calls `callfunc` and member paths `gointo`, which recurse into each other as
// deep as the source nests, and the emitting functions (packer.cpp): every byte goes
// through the one funnel `addbytes` (the emitter's `emit`) into the compilation. Free functions of
// the same names remain as shims over the thread's current compilation, for tests and fuzzers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context.h"
#include "packer.h"
#include "rawapi.h"

// The statement keywords and the operators, in their significant order.
extern const stringlist statements;
extern const stringlist operators;
// A stop list made ready for scanning when a scan first takes it, standing wherever a
// `const stoplist&` does: making one ready costs thousands of instructions, which a small
// program should not pay before it starts for lists it may never use.
struct readystoplist {
    const stoplist& (*ready)();
    operator const stoplist&() const { return ready(); }
};
// The operators made ready for scanning.
extern const readystoplist operatorstops;

// Deepest nesting of brackets, braces and code blocks (and of the compiler's recursion
// through them) that a program may have; deeper is the fatal "Nesting too deep!".
constexpr int maxnesting = 2000;

// True when every character of `target` is a digit or "-" (or "." with `allowfloat`).
bool isnumeric(std::string_view target, bool allowfloat);
// True when some entry of `x` equals `element`.
bool inlist(const stringlist& x, std::string_view element);

// The deepest nesting of "(", "[" and "{" in `text`, outside double-quoted strings (all of
// them when the text holds an escaped quote): a bound on the recursion that compiling the
// text can need, checked before compiling so that absurd nesting fails at once.
int bracketdepth(std::string_view text);
// The offset of the opener at which that nesting first goes deeper than `limit` levels, or
// npos when it never does.
std::size_t openerpast(std::string_view text, std::int64_t limit);
// Both in one pass: the deepest nesting, and the opener past `limit` (npos when none).
struct nesting {
    std::int64_t deepest = 0;
    std::size_t past = std::string_view::npos;
};
nesting bracketnesting(std::string_view text, std::int64_t limit);

struct compiler {
    compilation& c;

    // Compiles a whole program text in statement mode on a thread with a stack large enough
    // for `maxnesting` levels, after checking the text's nesting. Errors arrive as the
    // exceptions of the packer (`fatalerror`, `parserexit`), rethrown on the calling thread.
    // The text is located as the program unless it is a source text of the compilation
    // already.
    void compileprogram(std::string_view text);

    // Mode 0 compiles statements; mode 1 compiles a class body (only "def" and "class").
    void compilecode(std::string_view target, int mode);
    void handleexpr(std::string_view expression);
    void handlesingleeval(std::string_view target, std::string_view op);
    void handleget(std::string_view target, int pointer);
    void handleset(std::string_view target);
    // Emits ARGS, the code of each argument expression, ENDARGS and CALL with the count.
    void callfunc(const viewlist& arguments);
    // Emits ENTER and one DESCEND per intermediate element of the dotted path `target`,
    // counts the levels in `wentin`, and returns the last element with all text after it.
    std::string_view gointo(std::string_view target, std::int32_t& wentin,
                            const stringlist& enders);

    // Emission (packer.cpp). Routes bytes: into the description map while a title record is
    // written, else into the byte code; inside an open block the bytes stand in place behind
    // the block's reserved length.
    void addcode(byte b);
    void addcode(const bytelist& bytes);
    void addcode(std::initializer_list<byte> bytes);
    // `op`, TYPE_STRING and the string operand `name`, as `compilestring` writes it.
    void addnamed(byte op, std::string_view name);
    // Closes the innermost open block: writes its length in front of its bytes.
    void negatebyteoperand();
    void compileint(std::int32_t target);
    void compilefloat(float target);
    void compilestring(std::string_view target);
    // Title blocks of the description map. `source` is the text the construct was made
    // from, for its place; by default the title itself.
    void gotitle(std::string_view target);
    void gotitle(std::string_view target, std::string_view source);
    // A title joined from pieces: source text and the title words.
    void gotitle(std::initializer_list<std::string_view> pieces, std::string_view source);
    void goout();

    // Fails at the innermost construct being compiled.
    [[noreturn]] void error(const std::string& message);
    // Fails at `quoted`, the source text the message is about.
    [[noreturn]] void error(const std::string& message, std::string_view quoted);

  private:
    // The members below are defined `inline` in the one file that calls them (compiler.cpp,
    // packer.cpp), so that they are optimized as that file's own functions are.
    typedef std::span<const std::string_view> words;
    typedef void (compiler::*formcompiler)(const words&, int mode);
    // The compiler of each statement form, by its kind.
    static const formcompiler formcompilers[];

    // The one funnel of every emitted byte, and the opening of a title.
    void addbytes(const byte* data, std::size_t size);
    void opentitle(std::initializer_list<std::string_view> pieces, std::string_view source);

    int nestingof(std::string_view text, bool check);
    [[noreturn]] void failat(std::string_view message, std::string_view text);
    std::string_view joined(std::string_view a, std::string_view b, std::string_view from);
    void addname(byte op, std::string_view name);
    void pushint(std::int32_t value);
    void membercall(std::string_view method, std::int32_t count);
    void openblock(byte op);
    void closeblock();
    void handfinishedcode(std::size_t least = std::size_t{1} << 16);

    // Statements and their forms, each form receiving the words after its keyword.
    void compilestatement(std::string_view statement, const words& rest, int mode);
    void compilerecovering(std::string_view statement, const words& rest, int mode);
    void checkwordcount(std::string_view keyword, const words& w, std::size_t least,
                        std::size_t most);
    void statementtitle(std::initializer_list<std::string_view> pieces);
    void checkdefinitionname(std::string_view name, int mode);
    void compileassignment(std::string_view name, std::string_view val);
    void compilescope(const words& w, int mode);
    void compileif(const words& w, int mode);
    void compilewhile(const words& w, int mode);
    void compilefor(const words& w, int mode);
    void compiledef(const words& w, int mode);
    void compilealso(const words& w, int mode);
    void compilereturn(const words& w, int mode);
    void compileclass(const words& w, int mode);
    void compileforever(const words& w, int mode);

    // Value access: heads, literals and suffixes.
    std::string_view scanhead(std::string_view& target);
    void compilehead(std::string_view head, std::string_view rest, std::string_view target,
                     int getof, int pointer);
    std::int32_t readinteger(std::string_view head);
    float readdecimal(std::string_view view);
    void compiledict(std::string_view entries, std::string_view head);
    void compilelist(std::string_view elements, std::string_view target);
    void compilestringliteral(std::string_view head);
    void checkadjacentstrings(std::string_view head);
    void checkname(std::string_view name);
    viewlist callarguments(std::string_view& text);
    std::string_view indextext(std::string_view& text, std::string_view target, const char* who);
    void checknothingleft(std::string_view rest, const char* who);
};

// The emitting members every construct calls, inline so that a byte costs an append.
inline void compiler::addcode(byte b) {
    c.emit(b);
}

inline void compiler::addcode(const bytelist& bytes) {
    c.emit(bytes.data(), bytes.size());
}

inline void compiler::addcode(std::initializer_list<byte> bytes) {
    c.emit(bytes.begin(), bytes.size());
}

// Shims over the thread's current compilation, for tests, fuzzers and the bench: each
// builds a compiler on `current()` and calls its member.
// Puts the current compilation back to its start values.
void resetcompiler();
void compileprogram(std::string_view text);
void compilecode(std::string_view target, int mode);
void handleexpr(std::string_view expression);
void handleget(std::string_view target, int pointer);
void handleset(std::string_view target);
void callfunc(const viewlist& arguments);
std::string_view gointo(std::string_view target, std::int32_t& wentin, const stringlist& enders);
