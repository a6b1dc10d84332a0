// Code generation: the statement compiler `compilecode` with every statement form, the
// expression compiler `handleexpr`, value access `handleget`, assignment targets
// `handleset` and the literal tests. They recurse into each other as deep as the source
// nests; every byte goes out through the emitters of the packer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rawapi.h"

// The statement keywords and the operators, in their significant order.
extern const stringlist statements;
extern const stringlist operators;
// The operators made ready for scanning.
extern const stoplist operatorstops;

// Deepest nesting of brackets, braces and code blocks (and of the compiler's recursion
// through them) that a program may have; deeper is the fatal "Nesting too deep!".
constexpr int maxnesting = 2000;
// Puts the current compilation context back to its start values.
void resetcompiler();

// Mode 0 compiles statements; mode 1 compiles a class body (only "def" and "class").
void compilecode(std::string_view target, int mode);
void handleexpr(std::string_view expression);
void handlesingleeval(std::string_view target, std::string_view op);
void handleget(std::string_view target, int pointer);
void handleset(std::string_view target);

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

// Compiles a whole program text in statement mode on a thread with a stack large enough
// for `maxnesting` levels, after checking the text's nesting. Errors arrive as the
// exceptions of the packer (`fatalerror`, `parserexit`), rethrown on the calling thread.
// The text is located as the program unless it is a source text of the context already.
void compileprogram(std::string_view text);
