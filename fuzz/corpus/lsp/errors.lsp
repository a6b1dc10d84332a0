Content-Length: 33

{"jsonrpc":"2.0","id":2,"method":Content-Length: 74

{"jsonrpc":"2.0","id":3,"method":"workspace/symbol","params":{"query":""}}Content-Length: 64

{"jsonrpc":"2.0","method":"$/setTrace","params":{"value":"off"}}Content-Length: 147

{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///t/a.zv","languageId":"zv","version":1,"text":"x = 1\n"}}}Content-Length: 156

{"jsonrpc":"2.0","id":"four","method":"textDocument/definition","params":{"textDocument":{"uri":"file:///t/a.zv"},"position":{"line":"zero","character":0}}}Content-Length: 44

{"jsonrpc":"2.0","id":5,"method":"shutdown"}Content-Length: 33

{"jsonrpc":"2.0","method":"exit"}