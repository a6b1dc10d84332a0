" Buffer settings for zv programs. The language has no comments; a statement is one line,
" blocks are in braces.
if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1

setlocal commentstring=
setlocal comments=
setlocal formatoptions-=c formatoptions-=r formatoptions-=o
setlocal expandtab shiftwidth=4 softtabstop=4
setlocal iskeyword=@,48-57,_,192-255
setlocal matchpairs=(:),[:],{:}
setlocal suffixesadd=.ZVEX
" `gf` on the name of `also NAME` opens NAME.ZVEX.
setlocal includeexpr=v:fname.'.ZVEX'
setlocal include=^\\s*also\\s\\+

let b:undo_ftplugin = 'setlocal commentstring< comments< formatoptions< expandtab< shiftwidth<'
      \ . ' softtabstop< iskeyword< matchpairs< suffixesadd< includeexpr< include<'
