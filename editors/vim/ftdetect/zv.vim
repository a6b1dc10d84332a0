" zv programs (.zv) and the files they include (.ZVEX).
autocmd BufRead,BufNewFile *.zv,*.ZVEX setfiletype zv
