// The page's own logic in Node, on the module's real results: places in the editor (UTF-16
// units) against the compiler's columns (characters) on lines with characters outside the
// Basic Multilingual Plane, the construct found at each name and the listing lines of its
// bytes; and the program's files through the URL fragment and back, malformed fragments
// included.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { loadcompiler } from './support.mjs';
import { nodeat, placeof, linesof, charcolumn, unitcolumn } from '../../web/src/origins.js';
import { encodefiles, decodefiles } from '../../web/src/fragment.js';

test('a name on a line with astral characters is found where the editor has it', async () => {
  const compiler = await loadcompiler();
  const lines = [
    'print("\u{1F600}\u{1F600}", alpha)',
    's = "\u00e9\u{10348}"+beta',
    'f("\u{1F600}", [gamma, "\u4e2d"], delta)',
  ];
  const source = lines.join('\n') + '\n';
  const result = compiler.compile(source, { name: 'prog.zv' });
  assert.equal(result.status, 0);
  for (const [index, text] of lines.entries()) {
    for (const name of ['alpha', 'beta', 'gamma', 'delta'].filter((each) => text.includes(each))) {
      const unit = text.indexOf(name) + 1; // 1-based UTF-16 column of the name's first letter
      for (const at of [unit, unit + name.length - 1]) {
        const node = nodeat(result.nodes, 'prog.zv', index + 1, charcolumn(text, at));
        const place = placeof(result.nodes, node);
        assert.ok(place, `${name}: a construct at column ${at}`);
        const from = unitcolumn(text, place.column) - 1;
        const to = unitcolumn(text, place.endcolumn) - 1;
        assert.equal(text.slice(from, to), name, `${name}: the construct's range`);
        // Its bytes: LOAD of the name, as in the listing.
        const listing = result.listing.trimEnd().split('\n');
        const marked = linesof(result, node).map((line) => listing[line]);
        assert.ok(marked.some((line) => line.endsWith(`LOAD "${name}"`)), `${name}: ${marked}`);
      }
    }
  }
  // Past the end of a line and outside any construct: nothing.
  assert.equal(nodeat(result.nodes, 'prog.zv', 1, 200), -1);
  assert.equal(nodeat(result.nodes, 'other.zv', 1, 8), -1);
});

test('files go through the URL fragment and come back unchanged', async () => {
  const cases = [
    [{ name: 'prog.zv', text: '' }],
    [{ name: 'prog.zv', text: 'also lib\nprint("\u{1F600} \u00e9\\n")\r\n\u0000\t end' }, { name: 'lib.ZVEX', text: 'x = 1\n' }],
    [{ name: 'big.zv', text: 'value = [1, 2, 3]\n'.repeat(50000) }],
    [{ name: 'odd name \u2603 #?&=.zv', text: 'a lone surrogate \ud800 kept as it is' }],
  ];
  for (const files of cases) {
    const fragment = await encodefiles(files);
    assert.match(fragment, /^#[zs]=[A-Za-z0-9_-]*$/, 'only characters an address keeps');
    const back = await decodefiles(fragment);
    assert.deepEqual(back, files);
  }
  const large = await encodefiles(cases[2]);
  assert.ok(large.length < 20000, `a repetitive program is deflated (${large.length} characters)`);
});

test('a malformed fragment gives no files rather than a failure', async () => {
  const text = (value) => Buffer.from(value).toString('base64url');
  for (const fragment of ['', '#', '#z=', '#z=AAAA', '#z=not*base64', '#s=' + text('not json'),
    '#s=' + text('[]'), '#s=' + text('{"a":1}'), '#q=' + text('[["a","b"]]'), '#s=%%%']) {
    assert.equal(await decodefiles(fragment), null, fragment);
  }
  // A well-formed uncompressed fragment is read too.
  assert.deepEqual(await decodefiles('#s=' + text('[["prog.zv","f\\n"]]')), [{ name: 'prog.zv', text: 'f\n' }]);
});
