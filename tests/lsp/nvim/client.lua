-- Drives Neovim's LSP client (0.7 API) against `zv lsp`: diagnostics as the editor holds
-- them, document symbols, hover, a definition jump inside the buffer and one into the
-- included file, then an edit and the diagnostics that follow it, a line typed key by key
-- with every feature checked on the rest of the buffer at each state, completion,
-- references, signature help, highlights, workspace symbols, a rename and a quick fix
-- applied to the buffer, and a clean shutdown.
-- Every wait is bounded; the exit status is the number of failed checks (0: all passed).
local zv = assert(os.getenv('ZV_PATH'), 'ZV_PATH is not set')
local failures = 0
local function check(ok, what, got)
  if not ok then
    failures = failures + 1
    io.stderr:write('FAIL: ' .. what .. (got ~= nil and (': ' .. vim.inspect(got)) or '') .. '\n')
  end
end
local function finish()
  io.stderr:write(failures == 0 and 'all checks passed\n' or (failures .. ' checks failed\n'))
  os.exit(failures == 0 and 0 or 1)
end

local published = 0
local lastpublished = {} -- the diagnostics of the newest notification, as sent
local exitcode
local client = vim.lsp.start_client({
  name = 'zv',
  cmd = { zv, 'lsp' },
  root_dir = vim.fn.getcwd(),
  handlers = {
    ['textDocument/publishDiagnostics'] = function(err, result, ctx, config)
      published = published + 1
      lastpublished = result.diagnostics
      vim.lsp.diagnostic.on_publish_diagnostics(err, result, ctx, config)
    end,
  },
  on_exit = function(code) exitcode = code end,
})
check(client ~= nil, 'the client starts')
if not client then finish() end
local buf = vim.api.nvim_get_current_buf()
vim.lsp.buf_attach_client(buf, client)

local function diagnostics()
  local out = {}
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    table.insert(out, { d.lnum, d.col, d.message })
  end
  table.sort(out, function(a, b) return a[1] < b[1] end)
  return out
end
local function call(method, params)
  local replies = vim.lsp.buf_request_sync(buf, method, params, 5000)
  return replies and replies[client] or {}
end
local function request(method, line, col)
  local params = { textDocument = { uri = vim.uri_from_bufnr(buf) } }
  if line then params.position = { line = line, character = col } end
  local replies = vim.lsp.buf_request_sync(buf, method, params, 5000)
  local reply = replies and replies[client]
  return reply and reply.result
end

check(vim.wait(10000, function() return published >= 1 end, 20), 'diagnostics arrive')
-- The editor shows only the message: the plain-word note is in it.
check(vim.deep_equal(diagnostics(), {
  { 4, 8, "empty element dropped; remove the extra ','" },
  { 5, 12, "Unknown operator: '+-'\noperators side by side, blanks or not, are read as one operator" },
}), 'diagnostics after opening', diagnostics())

local symbols = request('textDocument/documentSymbol') or {}
check(#symbols == 1 and symbols[1].name == 'twice' and symbols[1].range.start.line == 1 and
      symbols[1].range['end'].line == 3, 'document symbols', symbols)

-- Definition of `square` is in the included file; of `twice` in the buffer, jumped to.
local square = request('textDocument/definition', 6, 6)
check(square and square.uri:match('/lib%.ZVEX$') and square.range.start.line == 0,
      'definition in the included file', square)
local twice = request('textDocument/definition', 5, 6)
check(twice and twice.uri == vim.uri_from_bufnr(buf), 'definition in the buffer', twice)
if twice then
  vim.lsp.util.jump_to_location(twice, 'utf-16')
  check(vim.deep_equal(vim.api.nvim_win_get_cursor(0), { 2, 0 }), 'the jump lands on def twice',
        vim.api.nvim_win_get_cursor(0))
end

-- Fix the error: the diagnostics change to the warning alone.
local before = published
vim.api.nvim_buf_set_lines(buf, 5, 6, false, { 'x = twice(3)-1' })
check(vim.wait(10000, function() return published > before and #diagnostics() == 1 end, 20),
      'diagnostics after the edit', diagnostics())
check(vim.deep_equal(diagnostics(), { { 4, 8, "empty element dropped; remove the extra ','" } }),
      'only the warning is left', diagnostics())

-- Hover on `twice` in the fixed line: the call and its byte code.
local hover = request('textDocument/hover', 5, 5)
local text = hover and hover.contents and hover.contents.value or ''
check(text:find('twice(3)', 1, true) and text:find('LOAD "twice"', 1, true) and
      text:find('CALL', 1, true), 'hover shows the call and its byte code', text)

-- A line typed key by key between two statements: at every state the rest of the buffer
-- keeps its symbols, definitions, hover and semantic tokens.
vim.api.nvim_buf_set_lines(buf, 5, 5, false, { '' })
local line = 'total = clamp(sum(numbers), 0, 10)'
local states, broken = 0, 0
for i = 0, #line do
  if i > 0 then
    vim.api.nvim_buf_set_text(buf, 5, i - 1, 5, i - 1, { line:sub(i, i) })
  end
  local state = 'after typing "' .. line:sub(1, i) .. '"'
  states = states + 1
  local names = {}
  for _, s in ipairs(request('textDocument/documentSymbol') or {}) do names[s.name] = true end
  check(names.twice, 'symbols ' .. state, names)
  local def = request('textDocument/definition', 6, 6) -- twice in x = twice(3)-1
  check(def and def.uri == vim.uri_from_bufnr(buf) and def.range.start.line == 1,
        'definition ' .. state, def)
  local lib = request('textDocument/definition', 7, 5) -- square in y = square(x)
  check(lib and lib.uri:match('/lib%.ZVEX$'), 'definition into the include ' .. state, lib)
  local h = request('textDocument/hover', 7, 5) -- square in y = square(x)
  check(h and h.contents and h.contents.value:find('square', 1, true),
        'hover on the next statement ' .. state, h)
  local tokens = request('textDocument/semanticTokens/full') or {}
  local data, lines, at = tokens.data or {}, {}, 0
  for k = 1, #data, 5 do
    at = at + data[k]
    lines[at] = true
  end
  for _, l in ipairs({ 0, 1, 2, 4, 6, 7 }) do
    check(lines[l], 'semantic tokens on line ' .. l .. ' ' .. state, data)
  end
  if #vim.diagnostic.get(buf, { severity = vim.diagnostic.severity.ERROR }) > 0 then
    broken = broken + 1
  end
end
check(states == #line + 1 and broken > 0, 'typed states, some of them with errors',
      { states, broken })

-- Completion on a new line: the names of the buffer and of the included file.
vim.api.nvim_buf_set_lines(buf, 8, 8, false, { 's' })
local completion = request('textDocument/completion', 8, 1) or {}
local labels = {}
for _, item in ipairs(completion.items or completion) do labels[item.label] = true end
check(labels.twice and labels.square and labels.total, 'completion lists the names', labels)
vim.api.nvim_buf_set_lines(buf, 8, 9, false, {})

-- References of `twice`: its definition and its use.
local uri = vim.uri_from_bufnr(buf)
local refs = call('textDocument/references', {
  textDocument = { uri = uri }, position = { line = 1, character = 5 },
  context = { includeDeclaration = true } }).result or {}
local reflines = {}
for _, r in ipairs(refs) do table.insert(reflines, r.range.start.line) end
table.sort(reflines)
check(vim.deep_equal(reflines, { 1, 6 }), 'references of twice', refs)

-- Signature help inside the call of `twice`, highlights of its name, prepareRename on it,
-- and workspace symbols across the buffer and its include.
local signature = call('textDocument/signatureHelp', {
  textDocument = { uri = uri }, position = { line = 6, character = 10 } }).result or {}
local sig = (signature.signatures or {})[1] or {}
check((sig.label or ''):find('twice(a)', 1, true) and
      (signature.activeParameter == 0 or sig.activeParameter == 0), 'signature help', signature)
local highlights = call('textDocument/documentHighlight', {
  textDocument = { uri = uri }, position = { line = 6, character = 5 } }).result or {}
check(#highlights == 2, 'highlights of twice', highlights)
local prepared = call('textDocument/prepareRename', {
  textDocument = { uri = uri }, position = { line = 1, character = 5 } }).result or {}
local preparedrange = prepared.range or prepared
check(preparedrange.start and preparedrange.start.line == 1 and preparedrange.start.character == 4,
      'prepareRename gives the name', prepared)
local found = {}
for _, s in ipairs(call('workspace/symbol', { query = 'sq' }).result or {}) do
  found[s.name] = s.location.uri:match('/lib%.ZVEX$') ~= nil
end
check(found.square == true, 'workspace symbols reach the included file', found)

-- Rename: a name that would make a global is refused; a good one edits every occurrence.
local refused = call('textDocument/rename', {
  textDocument = { uri = uri }, position = { line = 1, character = 5 }, newName = 'Gtwice' })
check(refused.error ~= nil and refused.result == nil, 'rename to a global name is refused', refused)
local rename = call('textDocument/rename', {
  textDocument = { uri = uri }, position = { line = 1, character = 5 }, newName = 'double' })
check(rename.result ~= nil, 'rename gives an edit', rename)
if rename.result then vim.lsp.util.apply_workspace_edit(rename.result, 'utf-16') end
local text = vim.api.nvim_buf_get_lines(buf, 0, -1, false)
check(text[2] == 'def double(a) {' and text[7] == 'x = double(3)-1', 'the buffer after the rename',
      text)

-- Quick fix of the empty element: applied to the buffer, its diagnostic goes.
local warning
for _, d in ipairs(lastpublished) do
  if d.range.start.line == 4 then warning = d end
end
check(warning ~= nil, 'the empty-element warning is published', lastpublished)
if warning then
  local actions = call('textDocument/codeAction', {
    textDocument = { uri = uri }, range = warning.range,
    context = { diagnostics = { warning } } }).result or {}
  local fix
  for _, a in ipairs(actions) do
    if a.edit and not fix then fix = a end
  end
  check(fix ~= nil, 'a quick fix is offered', actions)
  if fix then
    local seen = published
    vim.lsp.util.apply_workspace_edit(fix.edit, 'utf-16')
    check(vim.api.nvim_buf_get_lines(buf, 4, 5, false)[1] == 'w = f(1,2)',
          'the fix edits the line', vim.api.nvim_buf_get_lines(buf, 4, 5, false))
    check(vim.wait(10000, function() return published > seen and #diagnostics() == 0 end, 20),
          'no diagnostic after the fix', diagnostics())
  end
end

vim.lsp.stop_client(client)
check(vim.wait(5000, function() return exitcode ~= nil end, 20) and exitcode == 0,
      'the server exits with status 0 after shutdown', exitcode)
finish()
