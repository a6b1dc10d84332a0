;;; zv-mode.el --- Major mode for zv programs -*- lexical-binding: t -*-

;; Font-lock for zv programs (.zv) and the files they include (.ZVEX): statement keywords
;; (as the first word of a statement only), strings with their escapes, numbers, operators
;; (the word operators too), `@' members, globals (the `G' prefix), the `&' and `%'
;; prefixes, and the names that `def' and `class' define.  The language has no comments.
;; With eglot, `zv lsp' is registered as the language server of this mode.

;;; Code:

(defgroup zv nil
  "Editing zv programs."
  :group 'languages)

(defcustom zv-indent-offset 4
  "Columns a block's statements are indented by."
  :type 'integer
  :group 'zv)

(defcustom zv-server-command '("zv" "lsp")
  "The command that runs the zv language server."
  :type '(repeat string)
  :group 'zv)

(defconst zv--statement-start "\\(?:^\\|{\\)[ \t]*"
  "Where a statement begins: at the start of a line or after a block's brace.")

(defun zv--match-keyword (limit)
  "Find the next statement keyword before LIMIT for font-lock.
A keyword is the first word of a statement, followed by a blank, a brace or the line's
end, and not assigned to (`if = 1' assigns to a name `if')."
  (let (found)
    (while (and (not found)
                (re-search-forward
                 (concat zv--statement-start
                         "\\(if\\|while\\|forever\\|for\\|return\\|also\\|def\\|class\\|\\$@\\)")
                 limit t))
      (when (and (looking-at-p "[ \t}]\\|$")
                 (not (looking-at-p "[ \t]+=[ \t]")))
        (setq found t)))
    found))

(defvar zv-font-lock-keywords
  `(;; Strings: a backslash escapes the next character.
    ("\"\\(?:[^\"\\\n]\\|\\\\.\\)*\"?"
     (0 font-lock-string-face)
     ("\\\\." (progn (goto-char (match-beginning 0)) (match-end 0)) nil
      (0 'zv-escape-face prepend)))
    ;; def NAME(...) and class NAME.
    (,(concat zv--statement-start "\\(def\\)[ \t]+\\(G?@?[^ \t(){}\"]*\\)(")
     (1 font-lock-keyword-face keep) (2 font-lock-function-name-face keep))
    (,(concat zv--statement-start "\\(class\\)[ \t]+\\(G?[^ \t(){}\"]+\\)")
     (1 font-lock-keyword-face keep) (2 font-lock-type-face keep))
    ;; The statement keywords, and `as' of `for LIST as NAME'.
    (zv--match-keyword (1 font-lock-keyword-face keep))
    ("\\_<for[ \t]+[^ \t]+[ \t]+\\(as\\)[ \t]" (1 font-lock-keyword-face keep))
    ;; Word operators need blanks around them (`not' one after it).
    ("[ \t]\\(and\\|x?or\\)[ \t]" (1 'zv-operator-face keep))
    ("\\(?:^\\|[^[:alnum:]_@&%.]\\)\\(not\\)[ \t]" (1 'zv-operator-face keep))
    ;; Globals, members, and the reference and copy prefixes.
    ("\\(?:^\\|[^[:alnum:]_@&%.]\\)\\(G[[:alnum:]_@&%]+\\)" (1 font-lock-constant-face keep))
    ("@[[:alpha:]_][[:alnum:]_]*" (0 font-lock-variable-name-face keep))
    ("\\([&%]\\)[[:alpha:]_@]" (1 font-lock-builtin-face keep))
    ;; Numbers; a '-' after an operator, an opening bracket, a comma or a blank is theirs.
    ("\\(?:^\\|[-+*/=<>!([{,: \t]\\)\\(-?\\_<[0-9]+\\(?:\\.[0-9]+\\)?\\_>\\)"
     (1 'zv-number-face keep))
    ;; Operators.
    ("[-+*/=<>!]+" (0 'zv-operator-face keep)))
  "Font-lock rules of `zv-mode'.")

(defface zv-escape-face '((t :inherit font-lock-regexp-grouping-backslash))
  "Face of the escapes inside strings of zv programs."
  :group 'zv)

(defface zv-number-face '((t :inherit font-lock-constant-face))
  "Face of numbers in zv programs."
  :group 'zv)

(defface zv-operator-face '((t :inherit font-lock-builtin-face))
  "Face of operators in zv programs."
  :group 'zv)

(defvar zv-mode-syntax-table
  (let ((table (make-syntax-table)))
    ;; Strings are matched by font-lock (their escapes are the language's own), so quotes
    ;; are punctuation to the syntax table.
    (modify-syntax-entry ?\" "." table)
    (modify-syntax-entry ?' "." table)
    (modify-syntax-entry ?_ "_" table)
    (modify-syntax-entry ?@ "_" table)
    (modify-syntax-entry ?& "." table)
    (modify-syntax-entry ?% "." table)
    (dolist (c '(?+ ?- ?* ?/ ?= ?< ?> ?!)) (modify-syntax-entry c "." table))
    table)
  "Syntax table of `zv-mode'.")

(defun zv-indent-line ()
  "Indent the current line by the depth of the braces open before it."
  (interactive)
  (let* ((depth (save-excursion (car (syntax-ppss (line-beginning-position)))))
         (closing (save-excursion (back-to-indentation) (looking-at-p "}")))
         (column (* zv-indent-offset (max 0 (- depth (if closing 1 0))))))
    (if (<= (current-column) (current-indentation))
        (indent-line-to column)
      (save-excursion (indent-line-to column)))))

;;;###autoload
(define-derived-mode zv-mode prog-mode "zv"
  "Major mode for zv programs."
  :syntax-table zv-mode-syntax-table
  (setq-local font-lock-defaults '(zv-font-lock-keywords t))
  (setq-local comment-start "")
  (setq-local indent-line-function #'zv-indent-line)
  (setq-local indent-tabs-mode nil))

;;;###autoload
(add-to-list 'auto-mode-alist '("\\.\\(?:zv\\|ZVEX\\)\\'" . zv-mode))

;;;###autoload
(with-eval-after-load 'eglot
  (add-to-list 'eglot-server-programs `(zv-mode . ,zv-server-command)))

(provide 'zv-mode)
;;; zv-mode.el ends here
