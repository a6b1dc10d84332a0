// Code generation: the compiler object's members that compile (its emitting members are in
// packer.cpp). `compilecode` splits a text into statements and compiles each through its
// form; forms call `handleexpr` for expressions and `handleset` for receiving names;
// `handleexpr` cuts operands and operators and hands each operand to `handleget`, which
// calls `handleexpr` again for every nested expression, and `callfunc` for call arguments.
// Every construct brackets its bytes with a title block. Everything works on the compiler's
// compilation `c`; at the end, the free shims over the thread's current compilation.
#include "compiler.h"
#include "stackroom.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <pthread.h>
#include <span>

#include "context.h"
#include "language.h"
#include "packer.h"
#include "parser.h"
#include "sourceindex.h"

const stringlist statements = [] {
    stringlist out;
    for (const statementform& f : statementforms) out.emplace_back(f.keyword);
    return out;
}();
const stringlist operators = [] {
    stringlist out;
    for (const operatorinfo& o : operatortable) out.emplace_back(o.text);
    return out;
}();

namespace {
// The stop list of `list`, made on first use (once, whichever thread asks first).
template <const stringlist& list> const stoplist& readied() {
    static const stoplist stops(list);
    return stops;
}
} // namespace

constinit const readystoplist operatorstops{readied<operators>};

// The recursion itself may run somewhat deeper than the bracket nesting it follows (a
// statement inside a body adds a level, and escapes can turn into brackets on a second
// scan); this is the hard stop that keeps the stack safe whatever the text.
constexpr int maxrecursion = 2 * maxnesting + 16;

static void runwithlargestack(const std::function<void()>& work);

namespace {

// One level of the compiler's recursion, for as long as the construct is compiled.
class nestinglevel {
  public:
    explicit nestinglevel(compiler& k) : c(k.c) {
        if (++c.nesting > maxrecursion) {
            --c.nesting;
            k.error("Nesting too deep!");
        }
    }
    ~nestinglevel() { --c.nesting; }
    nestinglevel(const nestinglevel&) = delete;
    nestinglevel& operator=(const nestinglevel&) = delete;

  private:
    compilation& c;
};

} // namespace

// The deepest bracket nesting of `text`, a source text of the context, in one pass; when
// `check`, fails with "Nesting too deep!" at the opener where it nests deeper than the
// levels left.
inline int compiler::nestingof(std::string_view text, bool check) {
    const int left = maxnesting - c.nesting;
    if (check && left < 0) error("Nesting too deep!"); // the inclusions alone are too deep
    const nesting found =
        bracketnesting(text, check ? left : std::numeric_limits<std::int64_t>::max());
    if (check && found.past != std::string_view::npos)
        error("Nesting too deep!", text.substr(found.past, 1));
    return static_cast<int>(std::min<std::int64_t>(found.deepest, std::numeric_limits<int>::max()));
}

// The stop lists of the scans, built once.
const stringlist keepon = {".", "[", "("};
const stringlist openparen = {"("};
const stringlist closeparen = {")"};
const stringlist closebracket = {"]"};
const stringlist dictkeyend = {": ", ":"};
const stringlist dictvalueend = {", ", ",", "}"};
const std::string comma = ",";
// The same, made ready for scanning when first used.
constinit const readystoplist keeponstops{readied<keepon>};
constinit const readystoplist openparenstops{readied<openparen>};
constinit const readystoplist closeparenstops{readied<closeparen>};
constinit const readystoplist closebracketstops{readied<closebracket>};
constinit const readystoplist dictkeystops{readied<dictkeyend>};
constinit const readystoplist dictvaluestops{readied<dictvalueend>};

inline void compiler::addname(byte op, std::string_view name) {
    addnamed(op, name);
}

inline void compiler::pushint(std::int32_t value) {
    addcode({PUSH, TYPE_INT});
    compileint(value);
}

// ENTER, LOADMEMBER `method`, CALL with `count` arguments, LEAVE: the get and set calls of
// assignment targets.
inline void compiler::membercall(std::string_view method, std::int32_t count) {
    addcode(ENTER);
    addname(LOADMEMBER, method);
    addcode(CALL);
    addcode(TYPE_INT);
    compileint(count);
    addcode(LEAVE);
}

// Opens a length-prefixed block behind `op` and TYPE_BLOCK; `closeblock` ends it.
inline void compiler::openblock(byte op) {
    addcode(op);
    addcode(TYPE_BLOCK);
    c.beginblock();
}

inline void compiler::closeblock() {
    negatebyteoperand();
}

// `a` followed by `b`: a view when they stand side by side in one text, else a kept copy
// made from `from`.
inline std::string_view compiler::joined(std::string_view a, std::string_view b,
                                         std::string_view from) {
    if (a.data() + a.size() == b.data()) return std::string_view(a.data(), a.size() + b.size());
    std::string out;
    out.reserve(a.size() + b.size());
    out.append(a);
    out.append(b);
    return c.arena.keep(out, from);
}

// The text from the start of `first` to the end of `last`, views of one text.
static std::string_view between(std::string_view first, std::string_view last) {
    return std::string_view(first.data(),
                            static_cast<std::size_t>(last.data() + last.size() - first.data()));
}

// Source text in a message: its first line, in single quotes.
static std::string quotetext(std::string_view text) {
    std::string out = "'";
    out += firstline(text);
    out += '\'';
    return out;
}

// Fails with `message` followed by the quoted `text`, at the place of `text`.
inline void compiler::failat(std::string_view message, std::string_view text) {
    error(std::string(message) + quotetext(text), text);
}

static bool startswith(std::string_view text, char c) {
    return !text.empty() && text[0] == c;
}

static bool isdigit(char c) {
    return c >= '0' && c <= '9';
}

// ---------------------------------------------------------------------------------------
// Statement forms. Each receives the words after its keyword, already counted.

// The pieces of a message, joined.
static std::string join(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (std::string_view piece : pieces) out.append(piece);
    return out;
}

// Opens the title block of the statement being compiled, its title joined from `pieces`.
inline void compiler::statementtitle(std::initializer_list<std::string_view> pieces) {
    c.statementnext = true;
    gotitle(pieces, c.constructs.back());
}

// A definition named with a leading G stores a global of the rest of the name.
inline void compiler::checkdefinitionname(std::string_view name, int mode) {
    if (mode == 0 && startswith(name, 'G') && name.size() > 1 &&
        c.warning(warningkind::globaldefinition)) {
        std::string message = quotetext(name);
        message.append(" is stored as the global ").append(quotetext(name.substr(1)));
        c.addwarning(warningkind::globaldefinition, std::move(message), name);
    }
}

inline void compiler::compileassignment(std::string_view name, std::string_view val) {
    statementtitle({name, word(TW_ASSIGN), val});
    handleexpr(val);
    handleset(name);
    goout();
}

inline void compiler::compilescope(const words& w, int) {
    statementtitle({word(TW_SCOPE), w[0], word(TW_BLANK), w[1]});
    handleexpr(w[0]);
    addcode(ENTER);
    compilecode(w[1], 0);
    addcode(LEAVE);
    goout();
}

inline void compiler::compileif(const words& w, int) {
    statementtitle({word(TW_IF), w[0], word(TW_CODE)});
    handleexpr(w[0]);
    openblock(IF);
    compilecode(w[1], 0);
    closeblock();
    goout();
}

inline void compiler::compilewhile(const words& w, int) {
    statementtitle({word(TW_WHILE), w[0], word(TW_CODE)});
    pushint(1);
    openblock(LOOP);
    handleexpr(w[0]);
    compilecode(w[1], 0);
    closeblock();
    goout();
}

inline void compiler::compileforever(const words& w, int) {
    statementtitle({word(TW_FOREVER)});
    pushint(1);
    openblock(LOOP);
    compilecode(w[0], 0);
    pushint(1);
    closeblock();
    goout();
}

inline void compiler::compilefor(const words& w, int) {
    // w[1] is the skipped word, conventionally "as".
    const std::string_view expr = w[0];
    const std::string_view name = w[2];
    statementtitle({word(TW_FOR), expr, word(TW_AS), name, word(TW_CODE)});
    handleexpr(expr);
    openblock(FOREACH);
    addname(LOAD, "ELEMENT");
    addname(STORE, name);
    compilecode(w[3], 0);
    closeblock();
    goout();
}

inline void compiler::compiledef(const words& w, int mode) {
    std::string_view unpreppedname = w[0];
    std::string_view name = seekstring(c, unpreppedname, openparenstops, GIM, 0, false);
    if (unpreppedname.empty()) failat("def: parameter list missing: ", w[0]);
    checkdefinitionname(name, mode);
    if (mode == 1) name = joined("@", name, name);
    unpreppedname.remove_prefix(1);
    const viewlist args = getargs(c, unpreppedname, comma, closeparen);
    statementtitle({word(TW_DEF), name, word(TW_CODE)});
    openblock(PUSH);
    std::int32_t currentarg = 0;
    for (const std::string_view p : args) {
        addname(LOAD, join({"arg", std::to_string(currentarg)}));
        addname(STORE, p);
        ++currentarg;
    }
    compilecode(w[1], 0);
    closeblock();
    handleset(name);
    goout();
}

inline void compiler::compileclass(const words& w, int mode) {
    checkdefinitionname(w[0], mode);
    statementtitle({word(TW_CLASS), w[0], word(TW_DEFINITION)});
    addcode(PUSH);
    addcode(TYPE_OBJECT);
    addcode(CLASS);
    addcode(ENTER);
    compilecode(w[1], 1);
    addcode(LEAVE);
    handleset(w[0]);
    goout();
}

inline void compiler::compilereturn(const words& w, int) {
    if (!w.empty() && !w[0].empty()) handleexpr(w[0]);
    addcode(RETURN);
}

// The canonical form of a path, for telling whether a file is being included already.
static std::string canonicalpath(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, failed);
    return failed ? path : canonical.string();
}

inline void compiler::compilealso(const words& w, int) {
    const std::string_view name = w[0];
    statementtitle({word(TW_ALSO), name});
    const std::string path = join({name, includeextension});
    const span statement = c.locate(c.constructs.back());
    std::vector<std::uint32_t> droppedcrs;
    std::string completed;
    try {
        completed = c.readinclude(path, &droppedcrs);
    } catch (fatalerror& failed) {
        // The reader fails at the `also` statement unless it placed its failure itself.
        if (!failed.where.known()) failed.where = c.innermost();
        throw;
    }
    const std::string canonical = canonicalpath(path);
    for (const std::string& open : c.includestack) {
        if (open == canonical) error("Inclusion cycle: " + firstline(path));
    }
    c.included.push_back(path);
    const std::int32_t file = c.addownedfile(path, std::move(completed));
    sourcefile& included = *c.files[static_cast<std::size_t>(file)];
    included.droppedcrs = std::move(droppedcrs);
    included.parent = statement.file;
    included.includedat = statement;
    const int depth = nestingof(included.text, true);
    c.includestack.push_back(canonical);
    if (stackholds(depth)) {
        compilecode(included.text, 0);
    } else {
        runwithlargestack([&] { compilecode(included.text, 0); });
    }
    c.includestack.pop_back();
    goout();
}

const compiler::formcompiler compiler::formcompilers[] = {
    &compiler::compilescope,  &compiler::compileif,    &compiler::compilewhile,
    &compiler::compilefor,    &compiler::compiledef,   &compiler::compilealso,
    &compiler::compilereturn, &compiler::compileclass, &compiler::compileforever};

inline void compiler::checkwordcount(std::string_view keyword, const words& w, std::size_t least,
                                     std::size_t most) {
    if (w.size() < least) failat("Incomplete statement: ", keyword);
    if (w.size() > most) failat("Unexpected words after statement: ", w[most]);
}

static bool isblankword(std::string_view word) {
    return word.empty() || word == " " || word == "\t";
}

// Compiles one statement, its words cleaned and at least one left.
inline void compiler::compilestatement(std::string_view statement, const words& rest, int mode) {
    if (rest.size() == 2 && rest[0] == "=") {
        if (mode == 1) error("Only def allowed in class definition!");
        compileassignment(statement, rest[1]);
        return;
    }
    if (const statementform* f = findform(statement)) {
        if (mode == 1 && !f->inclass) error("Only def & class allowed in class definition!");
        checkwordcount(statement, rest, f->least, f->most);
        static_assert(std::size(formcompilers) == statementforms.size());
        (this->*formcompilers[static_cast<std::size_t>(f->kind)])(rest, mode);
        return;
    }
    if (mode == 1) error("Only def allowed in class definition!");
    checkwordcount(statement, rest, 0, 0);
    // The expression's title block is the statement's.
    c.statementnext = true;
    handleexpr(statement);
}

// Keep-going mode: compiles one statement; when it fails, records the failure and takes
// back everything the statement emitted, so that the next statement compiles exactly as it
// would have without it.
inline void compiler::compilerecovering(std::string_view statement, const words& rest, int mode) {
    const compilation::mark before = c.where();
    const std::string_view whole = between(statement, rest.empty() ? statement : rest.back());
    // The program's nesting is checked statement by statement: brackets left open on
    // one line do not add up over the text.
    if (c.nesting == 1 && c.includestack.size() <= 1) {
        const std::size_t at = openerpast(whole, maxnesting);
        if (at != std::string_view::npos) {
            c.failures.push_back(failure{1, "Nesting too deep!", c.locate(whole.substr(at, 1))});
            return;
        }
    }
    try {
        const constructscope statementscope(c, whole);
        compilestatement(statement, rest, mode);
        return;
    } catch (const fatalerror& e) {
        c.failures.push_back(failure{1, e.message, e.where, e.notes});
    } catch (const parserexit& e) { c.failures.push_back(failure{e.status, {}, e.where}); }
    c.rollback(before);
}

// ---------------------------------------------------------------------------------------
// Literals of value access.

// An integer literal: the longest leading optionally signed run of digits.
inline std::int32_t compiler::readinteger(std::string_view head) {
    std::size_t at = head[0] == '-' ? 1 : 0;
    std::int64_t value = 0;
    const std::size_t digits = at;
    for (; at < head.size() && isdigit(head[at]); ++at) {
        value = value * 10 + (head[at] - '0');
        if (value > 2147483648LL) break;
    }
    if (at == digits) failat("stoi invalid. val: ", head);
    if (head[0] == '-') value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        failat("stoi invalid. val: ", head);
    }
    return static_cast<std::int32_t>(value);
}

// A decimal literal: the longest leading part that reads as a decimal number, in single
// precision, which must survive the whole-and-digit encoding.
inline float compiler::readdecimal(std::string_view view) {
    const std::string head(view);
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(head.c_str(), &end);
    if (end == head.c_str()) failat("stof invalid. val: ", view);
    const float tenfold = value * 10.0f;
    const bool inrange = std::isfinite(tenfold) && value > -2147483649.0f &&
                         value < 2147483648.0f && tenfold > -2147483649.0f &&
                         tenfold < 2147483648.0f;
    const bool signlost =
        value < 0.0f && value > -1.0f && static_cast<std::int32_t>(tenfold) % 10 != 0;
    if (!inrange || signlost) failat("Decimal cannot be encoded. val: ", view);
    // Only the first digit after the point survives the encoding.
    const std::size_t point = view.find('.');
    if (point != std::string_view::npos && view.size() - point > 2 &&
        c.warning(warningkind::decimaldigits)) {
        c.addwarning(warningkind::decimaldigits,
                     "decimal '" + firstline(view) + "' keeps one digit after its point: " +
                         firstline(view.substr(0, point + 2)),
                     view);
    }
    return value;
}

// A head is scanned up to its first suffix opener. A list head runs to its matching "]",
// and a head of digits continues through one point that a digit follows (a decimal).
inline std::string_view compiler::scanhead(std::string_view& target) {
    const std::string_view whole = target;
    if (startswith(target, '[')) {
        const std::string_view open = target.substr(0, 1);
        target.remove_prefix(1);
        const std::string_view inner = seekstring(c, target, closebracketstops, GIM, 0, false);
        const std::string_view head = joined(open, inner, whole);
        if (!startswith(target, ']')) return head;
        const std::string_view close = target.substr(0, 1);
        target.remove_prefix(1);
        return joined(head, close, whole);
    }
    std::string_view head = seekstring(c, target, keeponstops, GIM, 0, false);
    const bool wholenumber = !head.empty() && isnumeric(head, false) &&
                             head.find_first_of("0123456789") != std::string_view::npos;
    if (wholenumber && target.size() >= 2 && target[0] == '.' && isdigit(target[1])) {
        head = joined(head, target.substr(0, 1), whole);
        target.remove_prefix(1);
        head = joined(head, seekstring(c, target, keeponstops, GIM, 0, false), whole);
    }
    return head;
}

inline void compiler::compiledict(std::string_view entries, std::string_view head) {
    entries.remove_prefix(1);
    std::int32_t count = 0;
    bool closed = false;
    const auto malformed = [&] { failat("handleget: malformed dictionary: ", head); };
    const auto skipblanks = [&] {
        while (startswith(entries, ' ')) entries.remove_prefix(1);
    };
    while (!entries.empty() && entries[0] != '}') {
        if (closed) malformed();
        ++count;
        const std::string_view key = seekstring(c, entries, dictkeystops, GIM, 0, false);
        if (entries.empty()) malformed();
        entries.remove_prefix(1);
        skipblanks();
        const std::string_view value = seekstring(c, entries, dictvaluestops, GIM, 0, false);
        if (!entries.empty()) {
            closed = entries[0] == '}';
            entries.remove_prefix(1);
        }
        skipblanks();
        handleexpr(value);
        handleexpr(key);
    }
    if (!closed && startswith(entries, '}')) {
        entries.remove_prefix(1);
        closed = true;
    }
    if (!closed || !entries.empty()) malformed();
    addcode(PUSH);
    addcode(TYPE_DICT);
    for (std::int32_t i = 0; i < count; ++i) {
        addcode(ITEM_MARK);
        addcode(ITEM_MARK);
    }
    addcode(END_MARK);
}

inline void compiler::compilelist(std::string_view elements, std::string_view target) {
    elements.remove_prefix(1);
    const viewlist items = getargs(c, elements, comma, closebracket);
    if (elements != "]") failat("handleget: malformed list: ", target);
    for (const std::string_view item : items) handleexpr(item);
    addcode(PUSH);
    addcode(TYPE_LIST);
    for (std::size_t i = 0; i < items.size(); ++i) addcode(ITEM_MARK);
    addcode(END_MARK);
}

// Two quoted strings side by side in one operand read as one string with the quotes and
// what stands between them inside. Escaped quotes inside a string are no such sign.
inline void compiler::checkadjacentstrings(std::string_view head) {
    // Only a string that stands in the source as it is can be told apart from its escapes.
    if (!c.insource(head)) return;
    int quotes = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\\') {
            ++i;
        } else if (head[i] == '"') {
            ++quotes;
        }
    }
    if (quotes > 2) {
        c.addwarning(warningkind::adjacentstrings,
                     "strings side by side are one string: " + quotetext(head), head);
    }
}

inline void compiler::compilestringliteral(std::string_view head) {
    if (head.size() < 2 || head.back() != '"')
        failat("handleget: malformed string literal: ", head);
    if (c.warning(warningkind::adjacentstrings)) checkadjacentstrings(head);
    addcode(PUSH);
    addcode(TYPE_STRING);
    compilestring(head.substr(1, head.size() - 2));
}

// Names that are almost certainly typing mistakes: punctuation that the scanners kept
// inside the name, or a leading digit.
inline void compiler::checkname(std::string_view name) {
    if (name.find_first_of(" \t\"'()[]{}=!,:") != std::string_view::npos &&
        c.warning(warningkind::namepunctuation)) {
        c.addwarning(warningkind::namepunctuation,
                     "name " + quotetext(name) +
                         " holds punctuation; put an expression with blanks in parentheses",
                     name);
    } else if (isdigit(name[0]) && c.warning(warningkind::namedigit)) {
        c.addwarning(warningkind::namedigit, "name " + quotetext(name) + " begins with a digit",
                     name);
    }
}

// Name opcodes by access mode (plain, global, member), for values and for references.
constexpr byte valueops[] = {LOAD, LOADGLOBAL, LOADMEMBER};
constexpr byte refops[] = {LOADREF, GLOBALREF, MEMBERREF};
constexpr byte createops[] = {STORE, STOREGLOBAL, STOREMEMBER};

inline void compiler::compilehead(std::string_view head, std::string_view rest,
                                  std::string_view target, int getof, int pointer) {
    if (head[0] == '{') {
        compiledict(head, head);
    } else if (head[0] == '[') {
        if (!rest.empty() && !inlist(keepon, rest.substr(0, 1))) {
            failat("handleget: malformed list: ", target);
        }
        compilelist(head, target);
    } else if (isnumeric(head, false)) {
        addcode(PUSH);
        addcode(TYPE_INT);
        compileint(readinteger(head));
    } else if (isnumeric(head, true)) {
        addcode(PUSH);
        addcode(TYPE_DECIMAL);
        compilefloat(readdecimal(head));
    } else if (head[0] == '"') {
        compilestringliteral(head);
    } else {
        if (c.warn) checkname(head);
        if (head == "not" && startswith(rest, '(')) {
            c.addwarning(warningkind::notcall,
                         "'not(...)' calls a function named 'not'; write 'not (...)' "
                         "for the operator",
                         head);
        }
        addname(pointer != 0 ? refops[getof] : valueops[getof], head);
    }
}

// The arguments of a call suffix; `text` begins with "(" and is left after the ")".
inline viewlist compiler::callarguments(std::string_view& text) {
    text.remove_prefix(1);
    viewlist args = getargs(c, text, comma, closeparen);
    if (startswith(text, ')')) text.remove_prefix(1);
    return args;
}

// The expression of an index suffix; `text` begins with "[" and is left after the "]".
inline std::string_view compiler::indextext(std::string_view& text, std::string_view target,
                                            const char* who) {
    text.remove_prefix(1);
    const std::string_view index = seekstring(c, text, closebracketstops, GIM, 0, false);
    if (text.empty()) failat(std::string(who) + ": missing ']': ", target);
    text.remove_prefix(1);
    return index;
}

// Text left after the suffixes of an access or a target is not part of any suffix.
inline void compiler::checknothingleft(std::string_view rest, const char* who) {
    if (!rest.empty()) failat(std::string(who) + ": unexpected text: ", rest);
}

// Hands the code so far to the context's sink, when it has one, there is enough of it, and
// no block is open whose length is still to be written in front of its bytes.
inline void compiler::handfinishedcode(std::size_t least) {
    if (!c.codesink || c.traceorigins || c.keepgoing || c.inblock() || c.code.size() < least ||
        c.code.empty()) {
        return;
    }
    c.codesink(c.code.data(), c.code.size());
    c.code.clear();
}

// Runs `work` on a thread whose stack holds the deepest recursion the compiler allows,
// and rethrows on the caller's thread whatever it threw.
static void runwithlargestack(const std::function<void()>& work) {
    constexpr std::size_t stacksize = std::size_t{1} << 30;
    struct job {
        const std::function<void()>* work;
        std::exception_ptr failure;
    } state{&work, nullptr};
    const auto entry = [](void* argument) -> void* {
        auto* self = static_cast<job*>(argument);
        try {
            (*self->work)();
        } catch (...) { self->failure = std::current_exception(); }
        return nullptr;
    };
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stacksize);
    pthread_t thread;
    const int started = pthread_create(&thread, &attributes, entry, &state);
    pthread_attr_destroy(&attributes);
    if (started != 0) {
        work(); // no thread to be had: compile on this one
        return;
    }
    pthread_join(thread, nullptr);
    if (state.failure) std::rethrow_exception(state.failure);
}

// ---------------------------------------------------------------------------------------

void compiler::compilecode(std::string_view target, int mode) {
    const nestinglevel level(*this);
    if (!target.empty() && target[0] == '{') {
        target.remove_prefix(1);
        if (!target.empty()) target.remove_suffix(1);
    }
    // Words are views of the text, which outlives every body compiled from it. Each level
    // of the recursion splits into lists of its own, kept for the next text at that level.
    const auto depth = static_cast<std::size_t>(c.nesting);
    while (c.splits.size() <= depth) c.splits.push_back(std::make_unique<splitwords>());
    splitwords& prepared = *c.splits[depth];
    splitrepairs repairs;
    if (c.keepgoing) {
        parsekeepgoing(c, target, prepared, repairs);
        for (const splitproblem& p : repairs.problems) {
            c.failures.push_back(failure{p.status, p.own, c.locate(target.substr(p.at, 1))});
        }
    } else {
        parsewords(c, target, 0, prepared);
    }
    std::vector<std::string_view> cleaned;
    std::size_t from = 0;
    for (std::size_t statement = 0; statement < prepared.ends.size(); ++statement) {
        const std::size_t end = prepared.ends[statement];
        if (!repairs.broken.empty() && repairs.broken[statement]) {
            // A statement the split had to repair is reported, not compiled.
            from = end;
            continue;
        }
        cleaned.clear();
        for (std::size_t i = from; i < end; ++i) {
            if (!isblankword(prepared.words[i])) cleaned.push_back(prepared.words[i]);
        }
        from = end;
        if (cleaned.empty()) continue;
        const words rest = words(cleaned).subspan(1);
        // Text that the statement's scans had to copy lives as long as the statement.
        textarena& arena = c.arena;
        const textarena::mark mark = arena.where();
        if (c.keepgoing) {
            compilerecovering(cleaned[0], rest, mode);
        } else {
            const constructscope statementscope(c, between(cleaned.front(), cleaned.back()));
            compilestatement(cleaned[0], rest, mode);
        }
        arena.release(mark);
        handfinishedcode();
    }
}

void compiler::handleexpr(std::string_view expression) {
    const nestinglevel level(*this);
    const constructscope scope(c, expression);
    if (expression.empty()) error("handleexpr: expression empty!");
    gotitle(expression);

    std::string_view text = expression;
    const bool grouped = startswith(text, '(');
    if (grouped) text.remove_prefix(1);
    // Without a ")" or a backslash the scan for the closing parenthesis would take the
    // whole text unchanged; the text is then used as it stands.
    std::string_view inner = text;
    if (text.find(')') != std::string_view::npos || text.find('\\') != std::string_view::npos) {
        inner = seekstring(c, text, closeparenstops, GIM, 0, false);
    } else {
        text = text.substr(text.size());
    }
    if (grouped && startswith(text, ')')) text.remove_prefix(1);
    if (!text.empty()) failat("handleexpr: unexpected text: ", text);
    if (inner.empty()) error("handleexpr: expression empty!");

    std::string_view rest = inner;
    std::string_view op;
    bool first = true;
    for (;;) {
        if (checkstrings(rest, "not ")) {
            op = rest.substr(0, 3);
            rest.remove_prefix(4);
        }
        std::string_view operand = seekstring(c, rest, operatorstops, GIM, 0, true);
        if (operand.empty() && rest.size() >= 2 && rest[0] == '-' && isdigit(rest[1])) {
            const std::string_view minus = rest.substr(0, 1);
            rest.remove_prefix(1);
            operand = joined(minus, seekstring(c, rest, operatorstops, GIM, 0, true), minus);
        }
        if (operand.empty()) {
            if (!op.empty()) failat("handleexpr: operator without operand: ", op);
            if (first) failat("handleexpr: expression begins with operator: ", inner);
            break;
        }
        if (op.empty()) {
            handleget(operand, 0);
        } else {
            handlesingleeval(operand, op);
        }
        first = false;
        op = reversedseekstring(c, rest, operatorstops, GIM);
    }
    goout();
}

void compiler::handlesingleeval(std::string_view target, std::string_view op) {
    // The title is no text of the source, so its block has no place of its own.
    gotitle({word(TW_DATASTACK), op, target}, std::string_view{});
    if (op != "not") {
        addcode(ARGS);
        handleget(target, 0);
        addcode(ENDARGS);
    } else {
        handleget(target, 0);
    }
    const operatorinfo* const known = findoperator(op);
    if (known == nullptr) failat("Unknown operator: ", op);
    if (known->size == 1) {
        addcode(known->bytes[0]);
    } else {
        addcode({known->bytes[0], known->bytes[1]});
    }
    goout();
}

void compiler::handleget(std::string_view target, int pointer) {
    if (target.empty()) return;
    const constructscope scope(c, target);
    gotitle(target);
    addcode(ACCESS);

    std::string_view text = target;
    int getof = 0;
    bool createcopy = false;
    if (startswith(text, 'G')) getof = 1, text.remove_prefix(1);
    if (startswith(text, '@')) getof = 2, text.remove_prefix(1);
    if (startswith(text, '&')) pointer = 1, text.remove_prefix(1);
    if (startswith(text, '%')) createcopy = true, text.remove_prefix(1);

    const std::string_view head = scanhead(text);
    if (!head.empty()) compilehead(head, text, target, getof, pointer);

    std::int32_t wentin = 0;
    while (!text.empty() && inlist(keepon, text.substr(0, 1))) {
        if (startswith(text, '.')) {
            text = gointo(text, wentin, {});
            addname(pointer != 0 ? MEMBERREF : LOADMEMBER,
                    seekstring(c, text, keeponstops, GIM, 0, false));
        }
        if (startswith(text, '(')) {
            const viewlist args = callarguments(text);
            addcode(PRECALL);
            callfunc(args);
            addcode(ACCESS);
        }
        if (startswith(text, '[')) {
            const std::string_view index = indextext(text, target, "handleget");
            addcode(ENTER);
            addname(LOADMEMBER, "get");
            addcode(PRECALL);
            callfunc(viewlist{index});
            addcode(ACCESS);
            addcode(LEAVE);
        }
    }
    checknothingleft(text, "handleget");
    for (std::int32_t i = 0; i < wentin; ++i) addcode(LEAVE);
    if (createcopy) addcode(COPY);
    goout();
}

void compiler::handleset(std::string_view target) {
    const constructscope scope(c, target);
    if (target.empty()) error("handleset: name empty!");
    gotitle(target);
    addcode(ACCESS);

    std::string_view text = target;
    int getof = 0;
    if (startswith(text, 'G')) getof = 1, text.remove_prefix(1);
    if (startswith(text, '@')) getof = 2, text.remove_prefix(1);

    const std::string_view temp = seekstring(c, text, keeponstops, GIM, 0, false);
    if (c.warn && !temp.empty()) checkname(temp);
    if (text.empty()) {
        addcode(PUSH);
        addcode(TYPE_OBJECT);
        addname(createops[getof], temp);
    }
    addname(refops[getof], temp);

    std::int32_t wentin = 0;
    while (!text.empty() && inlist(keepon, text.substr(0, 1))) {
        if (startswith(text, '.')) {
            membercall("get", 0);
            text = gointo(text, wentin, {});
            const std::string_view name = seekstring(c, text, keeponstops, GIM, 0, false);
            if (text.empty()) {
                addcode(PUSH);
                addcode(TYPE_OBJECT);
                addname(STOREMEMBER, name);
            }
            addname(MEMBERREF, name);
        }
        if (startswith(text, '(')) {
            membercall("get", 0);
            const viewlist args = callarguments(text);
            addcode(PRECALL);
            callfunc(args);
            addcode(ACCESS);
            addcode(RESULTREF);
        }
        if (startswith(text, '[')) {
            membercall("get", 0);
            const std::string_view index = indextext(text, target, "handleset");
            // The last index of a target receives the value; an earlier one reads.
            addcode(ENTER);
            addname(MEMBERREF, text.empty() ? "set" : "get");
            addcode(PRECALL);
            callfunc(index.empty() ? viewlist{} : viewlist{index});
            addcode(ACCESS);
            if (!text.empty()) addcode(RESULTREF);
            addcode(LEAVE);
        }
    }
    checknothingleft(text, "handleset");
    for (std::int32_t i = 0; i < wentin; ++i) addcode(LEAVE);
    goout();
    membercall("set", 1);
}

bool isnumeric(std::string_view target, bool allowfloat) {
    for (char c : target) {
        if (!(isdigit(c) || c == '-' || (allowfloat && c == '.'))) return false;
    }
    return true;
}

bool inlist(const stringlist& x, std::string_view element) {
    for (const std::string& entry : x) {
        if (entry == element) return true;
    }
    return false;
}

nesting bracketnesting(std::string_view text, std::int64_t limit) {
    // Brackets inside double-quoted strings are not counted, unless the text holds an
    // escaped quote anywhere: escapes are resolved again at every scan, and the statement
    // splitter does not know them at all, so the compiler's scans may disagree on where such
    // strings end. Every bracket is counted then. Each kind closes only itself, so mixing
    // kinds cannot hide depth.
    const bool countall = text.find("\\\"") != std::string_view::npos;
    std::int64_t open[3] = {0, 0, 0};
    std::int64_t depth = 0;
    nesting out;
    bool instring = false;
    groupcursor cursor(text);
    for (std::size_t at = cursor.next(0, groupcursor::marks); at < text.size();
         at = cursor.next(at + 1, groupcursor::marks)) {
        const char c = text[at];
        if (c == '"' && !countall) {
            instring = !instring;
            continue;
        }
        if (instring || c == '\'') continue;
        switch (c) {
        case '(':
        case '[':
        case '{':
            ++open[c == '(' ? 0 : c == '[' ? 1 : 2];
            out.deepest = std::max(out.deepest, ++depth);
            if (depth > limit && out.past == std::string_view::npos) out.past = at;
            break;
        case ')':
        case ']':
        case '}': {
            std::int64_t& kind = open[c == ')' ? 0 : c == ']' ? 1 : 2];
            if (kind > 0) {
                --kind;
                --depth;
            }
            break;
        }
        default:
            break;
        }
    }
    return out;
}

int bracketdepth(std::string_view text) {
    const std::int64_t deepest =
        bracketnesting(text, std::numeric_limits<std::int64_t>::max()).deepest;
    return static_cast<int>(std::min<std::int64_t>(deepest, std::numeric_limits<int>::max()));
}

std::size_t openerpast(std::string_view text, std::int64_t limit) {
    return bracketnesting(text, limit).past;
}

void compiler::compileprogram(std::string_view text) {
    // Byte code runs to two or three times the source; room reserved and never touched
    // costs no memory, and spares the copies of a growing buffer. Code handed to a sink
    // leaves the buffer, whose first pages are then used again.
    c.code.reserve(c.code.size() + 3 * text.size());
    // The map's record takes about a byte per byte of the source programs people write.
    c.desc.reserve(2 * text.size());
    // A text that is no source text of the context yet is the program.
    if (!c.locate(text).known()) c.addfile("<input>", text);
    // In keep-going mode the nesting is checked statement by statement.
    const int depth = c.nesting + nestingof(text, !c.keepgoing);
    const auto work = [&] {
        compilecode(text, 0);
        handfinishedcode(1);
    };
    // On the caller's thread when its stack holds the nesting, so that hosts tied to one
    // thread see their callbacks there.
    if (stackholds(depth)) {
        work();
    } else {
        runwithlargestack(work);
    }
}

// ---------------------------------------------------------------------------------------
// Calls and member paths.

void compiler::callfunc(const viewlist& arguments) {
    addcode(ARGS);
    for (const std::string_view argument : arguments) handleexpr(argument);
    addcode(ENDARGS);
    addcode(CALL);
    addcode(TYPE_INT);
    compileint(static_cast<std::int32_t>(arguments.size()));
}

std::string_view compiler::gointo(std::string_view target, std::int32_t& wentin,
                                  const stringlist& enders) {
    addcode(ENTER);
    ++wentin;
    if (!checkstrings(target, ".")) {
        std::string dotted;
        dotted.reserve(target.size() + 1);
        dotted.push_back('.');
        dotted.append(target);
        target = c.arena.keep(dotted, target);
    }
    // The path's elements end at a dot or at an ender.
    static const stringlist dot = {"."};
    static const stoplist dotstops(dot);
    stringlist own;
    std::unique_ptr<stoplist> ownstops;
    if (!enders.empty()) {
        own = enders;
        own.push_back(".");
        ownstops = std::make_unique<stoplist>(own);
    }
    const stoplist& stops = ownstops ? *ownstops : dotstops;
    std::string_view temp;
    while (checkstrings(target, ".")) {
        target.remove_prefix(1);
        temp = seekstring(c, target, stops, GIM, 0, false);
        if (!checkstrings(target, ".")) break;
        addcode(DESCEND);
        addcode(TYPE_STRING);
        compilestring(temp);
        ++wentin;
    }
    return temp;
}

// ---------------------------------------------------------------------------------------
// Shims over the thread's current compilation.

void resetcompiler() {
    current().reset();
}

void compileprogram(std::string_view text) {
    compiler{current()}.compileprogram(text);
}

void compilecode(std::string_view target, int mode) {
    compiler{current()}.compilecode(target, mode);
}

void handleexpr(std::string_view expression) {
    compiler{current()}.handleexpr(expression);
}

void handleget(std::string_view target, int pointer) {
    compiler{current()}.handleget(target, pointer);
}

void handleset(std::string_view target) {
    compiler{current()}.handleset(target);
}

void callfunc(const viewlist& arguments) {
    compiler{current()}.callfunc(arguments);
}

std::string_view gointo(std::string_view target, std::int32_t& wentin, const stringlist& enders) {
    return compiler{current()}.gointo(target, wentin, enders);
}
