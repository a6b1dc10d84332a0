// One compile of the page's files by the WebAssembly module, the same in the worker and on the
// page itself (when the page is opened from a file:// URL, where no worker may be started).
// The request holds the program's name and text and the include tabs by file name; the
// include reader serves those tabs and nothing else.

export function compileWith(module, request) {
  const includes = request.includes || {};
  const started = performance.now();
  const result = module.compile(request.source, {
    name: request.name,
    keepgoing: true,
    warn: true,
    readinclude: (path) => (Object.prototype.hasOwnProperty.call(includes, path) ? includes[path] : null),
  });
  result.milliseconds = performance.now() - started;
  return result;
}

// The buffers of a result that can be handed over instead of copied.
export function transferables(result) {
  const { nodes } = result;
  return [result.code, result.origins, result.lineoffsets, result.linesizes, nodes.parent, nodes.located,
    nodes.file, nodes.line, nodes.column, nodes.endline, nodes.endcolumn].map((array) => array.buffer);
}
