// Source and byte code tied together through the compiler's origin records: every byte of the
// code names the title block (node) that was innermost when it was made, and every located
// node knows the source range of its construct. A node's parent always comes before it.

// The nodes come as columns of typed arrays (see zvweb.cpp): nodes.parent[n], nodes.line[n]...
// A node as one object: {file, line, column, endline, endcolumn}, or null when not located.
export function placeof(nodes, index) {
  if (index < 0 || index >= nodes.count || !nodes.located[index]) return null;
  return {
    file: nodes.names[nodes.file[index]],
    line: nodes.line[index],
    column: nodes.column[index],
    endline: nodes.endline[index],
    endcolumn: nodes.endcolumn[index],
  };
}

// Is (line, column) before (or at) (otherline, othercolumn)?
function atorbefore(line, column, otherline, othercolumn) {
  return line < otherline || (line === otherline && column <= othercolumn);
}

// The innermost construct at a place (1-based line and column, in characters): of the nodes
// whose range holds it, the one with the narrowest range, the outermost of equal ranges (so
// that a statement's own bytes count with those of the expression that spans it); -1 when
// none does.
export function nodeat(nodes, file, line, column) {
  const wanted = nodes.names.indexOf(file);
  if (wanted < 0) return -1;
  const { located, line: lines, column: columns, endline: endlines, endcolumn: endcolumns } = nodes;
  let found = -1;
  for (let index = 1; index < nodes.count; ++index) {
    if (!located[index] || nodes.file[index] !== wanted) continue;
    if (!atorbefore(lines[index], columns[index], line, column)) continue;
    if (atorbefore(endlines[index], endcolumns[index], line, column)) continue; // ends at or before
    if (found >= 0) {
      const begins = atorbefore(lines[found], columns[found], lines[index], columns[index]);
      const ends = atorbefore(endlines[index], endcolumns[index], endlines[found], endcolumns[found]);
      const same = lines[index] === lines[found] && columns[index] === columns[found] &&
        endlines[index] === endlines[found] && endcolumns[index] === endcolumns[found];
      if (!begins || !ends || same) continue;
    }
    found = index;
  }
  return found;
}

// Marks of the nodes in the subtree of `top` (the node itself and all below it).
function subtree(nodes, top) {
  const inside = new Uint8Array(nodes.count);
  inside[top] = 1;
  for (let index = top + 1; index < nodes.count; ++index) {
    const parent = nodes.parent[index];
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
  for (let at = index, steps = 0; at >= 0 && at < nodes.count && steps <= nodes.count; at = nodes.parent[at], ++steps) {
    if (nodes.located[at]) return at;
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
