;;; emacs-eglot.el --- eglot connects zv-mode to `zv lsp' -*- lexical-binding: t -*-

;; Run as: emacs --batch -Q -l emacs/zv-mode.el -l tests/emacs-eglot.el (from editors/), with
;; ZV_PATH naming the zv binary and ZV_WORK a directory holding prog.zv and lib.ZVEX (the
;; Neovim test's program).  Opens prog.zv, connects with eglot through the entry zv-mode
;; adds, and checks that flymake shows the server's diagnostics and that the definition of
;; `twice' is found.  Exits with the number of failed checks.

;; Debian's elpa-eglot (and the newer project, xref and seq it needs) is activated at
;; start-up, which -Q skips: put its directories on the load path.
(dolist (dir (file-expand-wildcards "/usr/share/emacs/site-lisp/elpa/*"))
  (add-to-list 'load-path dir))
(require 'eglot)
(require 'flymake)
(require 'xref)

(defvar zv-test-failures 0)
(defun zv-test-check (ok what &optional got)
  (unless ok
    (setq zv-test-failures (1+ zv-test-failures))
    (message "FAIL: %s%s" what (if got (format ": %S" got) ""))))

(defun zv-test-wait (predicate seconds)
  "Wait up to SECONDS for PREDICATE to hold; its last value."
  (let ((deadline (+ (float-time) seconds)) (value nil))
    (while (and (not (setq value (funcall predicate))) (< (float-time) deadline))
      (accept-process-output nil 0.05))
    value))

(setq zv-server-command (list (getenv "ZV_PATH") "lsp"))
(setq eglot-server-programs
      (cons (cons 'zv-mode zv-server-command)
            (assq-delete-all 'zv-mode eglot-server-programs)))
(let ((work (or (getenv "ZV_WORK") (error "ZV_WORK is not set"))))
  (with-current-buffer (find-file-noselect (expand-file-name "prog.zv" work))
    (zv-test-check (eq major-mode 'zv-mode) "prog.zv opens in zv-mode" major-mode)
    (apply #'eglot (eglot--guess-contact))
    (zv-test-check (zv-test-wait #'eglot-current-server 10) "eglot connects to zv lsp")
    ;; Batch mode runs no idle timers: start flymake's check by hand, as the editor would.
    (flymake-start)
    (let ((diagnostics
           (zv-test-wait (lambda () (and (flymake-diagnostics) (flymake-diagnostics))) 10)))
      (zv-test-check (= (length diagnostics) 2) "two diagnostics in flymake" diagnostics)
      (zv-test-check
       (seq-some (lambda (d) (string-match-p "Unknown operator: '\\+-'" (flymake-diagnostic-text d)))
                 diagnostics)
       "the error's message" (mapcar #'flymake-diagnostic-text diagnostics)))
    (goto-char (point-min))
    (search-forward "x = twice")
    (backward-char 2)
    (let* ((id (xref-backend-identifier-at-point 'eglot))
           (found (xref-backend-definitions 'eglot id))
           (where (and found (xref-item-location (car found)))))
      (zv-test-check (and where (= (xref-location-line where) 2)) "definition of twice on line 2"
                     (and where (xref-location-line where))))
    (eglot-shutdown (eglot-current-server))))
(message (if (= zv-test-failures 0) "all eglot checks passed" "%d eglot checks failed")
         zv-test-failures)
(kill-emacs zv-test-failures)
