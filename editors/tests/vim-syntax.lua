-- Checks editors/vim/syntax/zv.vim in headless Neovim: the syntax group at chosen places of
-- the examples, each given by line, the text it starts with on that line, and the group
-- expected there (empty: no group). Run by run-vim.sh; exits with the number of mismatches.
local root = assert(os.getenv('ZV_SOURCE_DIR'), 'ZV_SOURCE_DIR is not set')
local cases = {
  { 'demo.zv', 1, 'also', 'zvStatement' },
  { 'demo.zv', 1, 'mathlib', '' },
  { 'demo.zv', 3, 'title', '' },
  { 'demo.zv', 3, '=', 'zvOperator' },
  { 'demo.zv', 3, '"zv demo', 'zvString' },
  { 'demo.zv', 3, '\\n---', 'zvEscape' },
  { 'demo.zv', 6, 'def', 'zvDefine' },
  { 'demo.zv', 6, 'greet', 'zvFunctionName' },
  { 'demo.zv', 6, 'name,', '' },
  { 'demo.zv', 7, '0', 'zvNumber' },
  { 'demo.zv', 8, 'while', 'zvConditional' },
  { 'demo.zv', 8, '<times', 'zvOperator' },
  { 'demo.zv', 8, '{', 'zvBracket' },
  { 'demo.zv', 9, '"!', 'zvString' },
  { 'demo.zv', 9, '\\n"', 'zvEscape' },
  { 'demo.zv', 12, 'return', 'zvStatement' },
  { 'demo.zv', 16, '-1', 'zvNumber' },
  { 'demo.zv', 18, 'for', 'zvRepeat' },
  { 'demo.zv', 18, 'as', 'zvRepeat' },
  { 'demo.zv', 18, 'n {', '' },
  { 'demo.zv', 19, 'if', 'zvConditional' },
  { 'demo.zv', 20, 'append', 'zvField' },
  { 'demo.zv', 24, '-12', 'zvNumber' },
  { 'demo.zv', 25, '1.5', 'zvNumber' },
  { 'demo.zv', 27, 'class', 'zvDefine' },
  { 'demo.zv', 27, 'Account', 'zvClassName' },
  { 'demo.zv', 29, '@owner', 'zvMember' },
  { 'demo.zv', 33, '+amount', 'zvOperator' },
  { 'demo.zv', 38, '-1', 'zvNumber' },
  { 'demo.zv', 44, '%', 'zvPrefix' },
  { 'demo.zv', 44, 'Account', '' },
  { 'demo.zv', 52, '$@', 'zvScope' },
  { 'demo.zv', 53, 'Gpi', 'zvGlobal' },
  { 'demo.zv', 53, '*square', 'zvOperator' },
  { 'shapes.zv', 50, 'Gpi', 'zvGlobal' },
  { 'timers.zv', 53, '(not', 'zvBracket' },
  { 'inventory.zv', 6, 'Gorders', 'zvGlobal' },
  { 'inventory.zv', 13, 'Gorders+1', 'zvGlobal' },
  { 'inventory.zv', 38, 'orders: "', 'zvString' },
  { 'timers.zv', 18, 'forever', 'zvRepeat' },
  { 'timers.zv', 53, 'not', 'zvWordOperator' },
  { 'timers.zv', 53, 'running', '' },
  { 'timers.zv', 53, ' and ', 'zvWordOperator', 1 },
  { 'timers.zv', 53, '>=', 'zvOperator' },
  { 'timers.zv', 54, ' xor ', 'zvWordOperator', 1 },
  { 'timers.zv', 54, ' or ', 'zvWordOperator', 1 },
  { 'shapes.zv', 10, '@w*', 'zvMember' },
  { 'shapes.zv', 38, '-2', 'zvNumber' },
  { 'shapes.zv', 43, '+" is', 'zvOperator' },
}

local failures = 0
for _, c in ipairs(cases) do
  local file, line, text, group, offset = c[1], c[2], c[3], c[4], c[5] or 0
  local path = root .. '/examples/' .. file
  if vim.fn.expand('%:p') ~= path then vim.cmd('silent edit ' .. vim.fn.fnameescape(path)) end
  local found, col
  if line then
    col = vim.fn.getline(line):find(text, 1, true)
  else
    -- The first line holding the text.
    for l = 1, vim.fn.line('$') do
      col = vim.fn.getline(l):find(text, 1, true)
      if col then
        line = l
        break
      end
    end
  end
  if not col then
    failures = failures + 1
    io.stderr:write(('FAIL: %s: %q not found on line %s\n'):format(file, text, tostring(line)))
  else
    col = col + offset
    found = vim.fn.synIDattr(vim.fn.synID(line, col, 1), 'name')
    if vim.bo.filetype ~= 'zv' then
      failures = failures + 1
      io.stderr:write(('FAIL: %s: filetype %q\n'):format(file, vim.bo.filetype))
    end
    if found ~= group then
      failures = failures + 1
      io.stderr:write(('FAIL: %s:%d:%d (%q): %q, expected %q\n'):format(file, line, col, text,
                                                                      found, group))
    end
  end
end
io.stderr:write(failures == 0 and ('all ' .. #cases .. ' places as expected\n')
                or (failures .. ' mismatches\n'))
os.exit(failures)
