Content-Length: 167

{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///t/d.zv","languageId":"zv","version":1,"text":"s = \"😀\"\nx = f(1,,2)\n"}}}Content-Length: 222

{"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///t/d.zv","version":2},"contentChanges":[{"range":{"start":{"line":0,"character":8},"end":{"line":0,"character":8}},"text":"+-t"}]}}Content-Length: 306

{"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///t/d.zv","version":3},"contentChanges":[{"range":{"start":{"line":0,"character":8},"end":{"line":0,"character":11}},"text":""},{"range":{"start":{"line":1,"character":7},"end":{"line":1,"character":8}},"text":""}]}}Content-Length: 101

{"jsonrpc":"2.0","method":"textDocument/didClose","params":{"textDocument":{"uri":"file:///t/d.zv"}}}Content-Length: 44

{"jsonrpc":"2.0","id":2,"method":"shutdown"}Content-Length: 33

{"jsonrpc":"2.0","method":"exit"}