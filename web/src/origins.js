// Source and byte code tied together through the compiler's origin records: every byte of the
// code names the title block (node) that was innermost when it was made, and every located
// node knows the source range of its construct. A node's parent always comes before it.

// Does the node's range hold the place (1-based line and column, in characters)?
function holds(node, file, line, column) {
  if (!node.located || node.file !== file) return false;
  if (line < node.line || (line === node.line && column < node.column)) return false;
  if (line > node.endline || (line === node.endline && column >= node.endcolumn)) return false;
  return true;
}

function before(a, b) {
  return a.line < b.line || (a.line === b.line && a.column <= b.column);
}

// The innermost construct at a place: of the nodes whose range holds it, the one with the
// narrowest range, the outermost of equal ranges (so that a statement's own bytes count with
// those of the expression that spans it); -1 when none does.
export function nodeat(nodes, file, line, column) {
  let found = -1;
  for (let index = 1; index < nodes.length; ++index) {
    const node = nodes[index];
    if (!holds(node, file, line, column)) continue;
    if (found < 0) { found = index; continue; }
    const best = nodes[found];
    // Narrower: begins no earlier and ends no later, and not the same range.
    const begins = before(best, node);
    const ends = node.endline < best.endline ||
      (node.endline === best.endline && node.endcolumn <= best.endcolumn);
    const same = node.line === best.line && node.column === best.column &&
      node.endline === best.endline && node.endcolumn === best.endcolumn;
    if (begins && ends && !same) found = index;
  }
  return found;
}

// Marks of the nodes in the subtree of `top` (the node itself and all below it).
function subtree(nodes, top) {
  const inside = new Uint8Array(nodes.length);
  inside[top] = 1;
  for (let index = top + 1; index < nodes.length; ++index) {
    const parent = nodes[index].parent;
    if (parent >= top && parent < index && inside[parent]) inside[index] = 1;
  }
  return inside;
}

// The listing lines whose instruction begins with a byte made by the construct `top` or by a
// construct inside it.
export function linesof(result, top) {
  if (top < 0) return [];
  const inside = subtree(result.nodes, top);
  const lines = [];
  for (let line = 0; line < result.lineoffsets.length; ++line) {
    if (inside[result.origins[result.lineoffsets[line]]]) lines.push(line);
  }
  return lines;
}

// The node of the instruction on a listing line; -1 when it has none.
export function nodeofline(result, line) {
  if (line < 0 || line >= result.lineoffsets.length) return -1;
  const node = result.origins[result.lineoffsets[line]];
  return node === undefined ? -1 : node;
}

// The nearest located node at or above `index`; -1 when none is.
export function locatednode(nodes, index) {
  for (let at = index, steps = 0; at >= 0 && steps <= nodes.length; at = nodes[at].parent, ++steps) {
    if (nodes[at].located) return at;
  }
  return -1;
}

// A column in characters (as the compiler counts: one per code point) from a column in
// UTF-16 units of a line's text, and back. Both are 1-based.
export function charcolumn(text, unitcolumn) {
  let column = 1;
  for (let at = 0; at < unitcolumn - 1 && at < text.length; ++at) {
    const code = text.charCodeAt(at);
    if (code >= 0xd800 && code <= 0xdbff && at + 1 < text.length) ++at;
    ++column;
  }
  return column;
}

export function unitcolumn(text, charcol) {
  let at = 0;
  for (let column = 1; column < charcol && at < text.length; ++column) {
    const code = text.charCodeAt(at);
    at += code >= 0xd800 && code <= 0xdbff && at + 1 < text.length ? 2 : 1;
  }
  return at + 1;
}
