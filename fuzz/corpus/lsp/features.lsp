Content-Length: 212

{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///t/f.zv","languageId":"zv","version":1,"text":"class Point {\n  def norm() {\n    return 0\n  }\n}\nx = 5\np = %Point\n"}}}Content-Length: 114

{"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///t/f.zv"}}}Content-Length: 141

{"jsonrpc":"2.0","id":3,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///t/f.zv"},"position":{"line":5,"character":4}}}Content-Length: 146

{"jsonrpc":"2.0","id":4,"method":"textDocument/definition","params":{"textDocument":{"uri":"file:///t/f.zv"},"position":{"line":6,"character":6}}}Content-Length: 112

{"jsonrpc":"2.0","id":5,"method":"textDocument/foldingRange","params":{"textDocument":{"uri":"file:///t/f.zv"}}}Content-Length: 119

{"jsonrpc":"2.0","id":6,"method":"textDocument/semanticTokens/full","params":{"textDocument":{"uri":"file:///t/f.zv"}}}Content-Length: 44

{"jsonrpc":"2.0","id":7,"method":"shutdown"}Content-Length: 33

{"jsonrpc":"2.0","method":"exit"}