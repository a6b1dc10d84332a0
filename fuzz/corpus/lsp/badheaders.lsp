Content-Length: 5

{"a":Content-Length: x

