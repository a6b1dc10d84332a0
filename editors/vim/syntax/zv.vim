" Syntax highlighting for zv programs (.zv, .ZVEX). A statement is one line cut into words
" at blanks; a keyword counts only as the first word of a statement (`if = 1` assigns to a
" name `if`). There are no comments.
if exists('b:current_syntax')
  finish
endif

syntax case match

" Statement keywords: the first word of a line or of a block's statement, not followed by
" ` = ` (an assignment to a name that happens to be a keyword).
syntax match zvConditional /\%(^\|{\)\s*\zs\<\%(if\|while\)\>\ze\%(\s\+=\s\)\@!\%(\s\|}\|$\)/
syntax match zvRepeat /\%(^\|{\)\s*\zs\<\%(for\|forever\)\>\ze\%(\s\+=\s\)\@!\%(\s\|}\|$\)/
syntax match zvStatement /\%(^\|{\)\s*\zs\<\%(return\|also\)\>\ze\%(\s\+=\s\)\@!\%(\s\|}\|$\)/
syntax match zvScope /\%(^\|{\)\s*\zs\$@\ze\%(\s\|}\|$\)/
" `as` of `for LIST as NAME`.
syntax match zvRepeat /\%(\<for\s\+\S\+\s\+\)\@<=as\>/
" def and class, and the name each defines.
syntax match zvDefine /\%(^\|{\)\s*\zs\<def\>\ze\%(\s\+=\s\)\@!\s/ nextgroup=zvFunctionName skipwhite
syntax match zvDefine /\%(^\|{\)\s*\zs\<class\>\ze\%(\s\+=\s\)\@!\s/ nextgroup=zvClassName skipwhite
syntax match zvFunctionName /[^ \t(){}\[\]"]\+\ze(/ contained contains=zvGlobal
syntax match zvClassName /[^ \t(){}\[\]"]\+/ contained contains=zvGlobal

" Word operators need blanks around them; `not` a blank after it.
syntax match zvWordOperator /\s\zs\%(and\|or\|xor\)\ze\s/
syntax match zvWordOperator /\%(^\|[^A-Za-z0-9_@&%.]\)\@1<=not\ze\s/
syntax match zvOperator /[-+*\/=<>!]\+/

" Numbers: integers and decimals; a '-' right after an operator, an opening bracket, a
" comma or a blank belongs to the number (after a name or a ')' it is a subtraction).
syntax match zvNumber /\%(\%(^\|[-+*\/=<>!(\[{,: \t]\)\@1<=-\)\=\<\d\+\%(\.\d\+\)\=\>/

" Strings in double quotes; a backslash escapes the next character (\n, \r, \" ...).
syntax region zvString start=/"/ skip=/\\./ end=/"/ oneline contains=zvEscape
syntax match zvEscape /\\./ contained

" Prefixes: G makes a global, @ a member of the current object, & a reference, % a copy.
syntax match zvGlobal /\%(^\|[^A-Za-z0-9_@&%.]\)\@1<=G[A-Za-z0-9_@&%]\+/
syntax match zvMember /@[A-Za-z_][A-Za-z0-9_]*/
syntax match zvPrefix /[&%]\ze[A-Za-z_@]/
" A member after a dot.
syntax match zvField /\.\zs[A-Za-z_][A-Za-z0-9_]*/

syntax match zvBracket /[(){}\[\]]/

highlight default link zvConditional Conditional
highlight default link zvRepeat Repeat
highlight default link zvStatement Statement
highlight default link zvScope Statement
highlight default link zvDefine Define
highlight default link zvFunctionName Function
highlight default link zvClassName Type
highlight default link zvWordOperator Operator
highlight default link zvOperator Operator
highlight default link zvNumber Number
highlight default link zvString String
highlight default link zvEscape SpecialChar
highlight default link zvGlobal StorageClass
highlight default link zvMember Identifier
highlight default link zvPrefix StorageClass
highlight default link zvField Identifier
highlight default link zvBracket Delimiter

let b:current_syntax = 'zv'
