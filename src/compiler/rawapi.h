// Source text scanning: the delimiter map `GIM`, the prefix tests, the forward scanner
// `seekstring`, the operator-run scanner `reversedseekstring`, the argument-list splitter
// `getargs` with the call emitter `callfunc`, and the member-path emitter `gointo`.
//
// Scanners consume their text from the front: the text is a view that the scanner advances
// past what it consumed, so a scan costs time linear in the characters it consumes and the
// rest of the text is never moved.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

typedef std::map<std::string, std::string> delimmap;
typedef std::vector<std::string> stringlist;

// "(" to ")", "[" to "]", "{" to "}", and the double quote to itself.
extern const delimmap GIM;

// True when every byte of `str` is one of the 52 ASCII letters (also for "").
bool isallalpha(std::string_view str);
// True when `x` begins with `y`.
bool checkstrings(std::string_view x, std::string_view y);
// True when `x` begins with at least one element of `y`.
bool checkstrings(std::string_view x, const stringlist& y);

// Cuts the leading part off `target` and returns it with its escapes resolved.
// Stop-list mode (`blacklistmode` 0) stops in front of the first entry of `blacklist` found
// outside every delimiter pair of `ignorance`; with `doalphachecking`, word entries stop
// only between blanks, and one blank moves from the result back to the text. Accept-list
// mode (any other value) takes entries for as long as they follow one another.
std::string seekstring(std::string_view& target, const stringlist& blacklist,
                       const delimmap& ignorance, int blacklistmode, bool doalphachecking);

// Takes the entries of `blacklist` that follow one another at the front of `target`,
// dropping the blanks around them, and returns them joined.
std::string reversedseekstring(std::string_view& target, const stringlist& blacklist,
                               const delimmap& ignorance);

// Splits a bracketed list (its opening bracket already removed) into its element texts, up
// to the first of `ends`, which stays at the front of `target`.
stringlist getargs(std::string_view& target, const std::string& seperator, const stringlist& ends);

// Emits ARGS, the code of each argument expression, ENDARGS and CALL with the count.
void callfunc(const stringlist& arguments);

// Emits ENTER and one DESCEND per intermediate element of the dotted path `target`, counts
// the levels in `wentin`, and returns the last element with all text after it.
std::string gointo(std::string_view target, std::int32_t& wentin, const stringlist& enders);
