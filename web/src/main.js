// The playground page: the program in an editor (one tab per file: the program and the files
// it includes), compiled in a worker as it is typed, and beside it zvdis's listing of the
// byte code, the hex echo zvc prints, the byte count and the diagnostics. The pointer over a
// construct marks its bytes in the listing; a click on a listing line marks its construct in
// the source. The files live in the URL fragment, so the address shares the program.
import { EditorState, StateEffect, StateField } from '@codemirror/state';
import { EditorView, Decoration, keymap, lineNumbers, highlightActiveLine, drawSelection } from '@codemirror/view';
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import { setDiagnostics, lintGutter } from '@codemirror/lint';
import { searchKeymap } from '@codemirror/search';

import { ListingView } from './listingview.js';
import { encodefiles, decodefiles } from './fragment.js';
import { nodeat, linesof, nodeofline, locatednode, placeof, charcolumn, unitcolumn } from './origins.js';
import { compileWith } from './compileonce.js';
import { examples } from './examples.js';

const $ = (id) => document.getElementById(id);
const echoshown = 1 << 16; // characters of the hex echo put on the page; the rest is counted
const compiledelay = 200;  // milliseconds of quiet typing before a compile
const fragmentlimit = 1 << 20; // characters of the longest fragment kept (browsers cap addresses near 2 MB)

// ---------------------------------------------------------------------------------------
// The compiler: a worker when one can be started, else the page itself.

// A worker whose compiler failed (out of memory, say) is replaced by a fresh one, so that
// the next compile starts clean.
function startworker() {
  const waiting = new Map();
  let next = 1;
  let worker = null;
  const fail = (message) => {
    for (const settle of waiting.values()) settle.reject(new Error(message));
    waiting.clear();
    worker.terminate();
    worker = null;
  };
  const start = () => {
    worker = new Worker('worker.js');
    worker.onmessage = (event) => {
      const { id, answer, failure } = event.data;
      const settle = waiting.get(id);
      waiting.delete(id);
      if (failure) {
        if (settle) settle.reject(new Error(failure));
        fail(failure);
      } else if (settle) {
        settle.resolve(answer);
      }
    };
    worker.onerror = (event) => fail(event.message || 'the compiler failed');
  };
  start();
  return {
    inworker: true,
    compile: (request) => new Promise((resolve, reject) => {
      if (!worker) start();
      const id = next++;
      waiting.set(id, { resolve, reject });
      worker.postMessage({ ...request, id });
    }),
  };
}

function startcompiler() {
  try {
    return startworker();
  } catch {
    // a file:// page may start no worker: compile on the page
  }
  const loading = new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = 'zvweb.js';
    script.onload = () => window.createZvModule().then(resolve, reject);
    script.onerror = () => reject(new Error('cannot load zvweb.js'));
    document.head.appendChild(script);
  });
  return {
    inworker: false,
    compile: async (request) => compileWith(await loading, request),
  };
}

// ---------------------------------------------------------------------------------------
// Marks in the editor: the construct tied to the listing, and the one under the pointer.

const setmarks = StateEffect.define();
const marksfield = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    marks = marks.map(transaction.changes);
    for (const effect of transaction.effects) if (effect.is(setmarks)) marks = effect.value;
    return marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

// ---------------------------------------------------------------------------------------
// The page's state.

const page = {
  files: [],        // [{name, state}] the program first
  active: 0,        // the tab shown
  view: null,       // the editor
  listing: null,    // the listing pane
  compiler: null,
  result: null,     // the last compile shown
  shownfiles: null, // the files that compile was of
  hovered: -1,      // the node under the pointer
  picked: null,     // the place of the construct of the listing line clicked
  highlighted: [],  // listing lines marked
  running: null,    // the compile in flight
  again: false,     // files changed while it ran
  timer: 0,
  waiters: [],      // setSource callers waiting for their compile
  generation: 0,    // bumped by every edit
  showngeneration: -1, // the generation of the files shown: marks apply only while it is current
};

function filetexts() {
  return page.files.map((file, index) => ({
    name: file.name,
    text: index === page.active && page.view ? page.view.state.doc.toString() : file.state.doc.toString(),
  }));
}

function savetab() {
  if (page.view) page.files[page.active].state = page.view.state;
}

function editorstate(text) {
  return EditorState.create({
    doc: text,
    extensions: [
      lineNumbers(), history(), drawSelection(), highlightActiveLine(), lintGutter(), marksfield,
      keymap.of([...defaultKeymap, ...historyKeymap, ...searchKeymap, indentWithTab]),
      EditorView.updateListener.of((update) => {
        if (update.docChanged) edited();
        if (update.selectionSet && !update.docChanged) selected(update.state);
      }),
    ],
  });
}

// ---------------------------------------------------------------------------------------
// Tabs.

function drawtabs() {
  const bar = $('tabs');
  bar.replaceChildren();
  page.files.forEach((file, index) => {
    const tab = document.createElement('button');
    tab.className = 'tab' + (index === page.active ? ' active' : '');
    tab.textContent = file.name;
    tab.dataset.name = file.name;
    tab.onclick = () => showtab(index);
    if (index > 0) {
      const close = document.createElement('span');
      close.className = 'close';
      close.textContent = '×';
      close.title = 'Remove this file';
      close.onclick = (event) => { event.stopPropagation(); removetab(index); };
      tab.appendChild(close);
    }
    bar.appendChild(tab);
  });
}

function showtab(index) {
  savetab();
  page.active = index;
  page.view.setState(page.files[index].state);
  drawtabs();
  showdiagnosticsineditor();
}

function removetab(index) {
  savetab();
  page.files.splice(index, 1);
  if (page.active >= page.files.length) page.active = page.files.length - 1;
  page.view.setState(page.files[page.active].state);
  drawtabs();
  edited();
}

function addtab(name, text) {
  savetab();
  const existing = page.files.findIndex((file) => file.name === name);
  if (existing >= 0) return showtab(existing);
  page.files.push({ name, state: editorstate(text) });
  showtab(page.files.length - 1);
  edited();
}

function loadfiles(files) {
  page.files = files.map((file) => ({ name: file.name, state: editorstate(file.text) }));
  page.active = 0;
  if (page.view) page.view.setState(page.files[0].state);
  drawtabs();
  edited(true);
}

// ---------------------------------------------------------------------------------------
// Compiling.

function edited(now = false) {
  ++page.generation;
  clearTimeout(page.timer);
  page.timer = setTimeout(compilenow, now ? 0 : compiledelay);
}

async function compilenow() {
  if (page.running) {
    page.again = true;
    return;
  }
  savetab();
  const files = filetexts();
  const generation = page.generation;
  const includes = {};
  for (const file of files.slice(1)) includes[file.name] = file.text;
  $('state').textContent = 'compiling…';
  page.running = page.compiler.compile({ name: files[0].name, source: files[0].text, includes });
  let result = null;
  try {
    result = await page.running;
  } catch (failure) {
    $('state').textContent = 'the compiler failed: ' + failure.message;
  }
  page.running = null;
  if (result) {
    show(result, files);
    page.showngeneration = generation;
  }
  if (page.again || generation !== page.generation) {
    page.again = false;
    compilenow();
    return;
  }
  keepinfragment(files);
  const waiters = page.waiters;
  page.waiters = [];
  for (const resolve of waiters) resolve(describe());
}

async function keepinfragment(files) {
  const fragment = await encodefiles(files);
  if (fragment.length > fragmentlimit) {
    $('state').textContent += ' (too large to keep in the link)';
    return;
  }
  if (fragment !== location.hash) window.history.replaceState(null, '', fragment);
}

// ---------------------------------------------------------------------------------------
// Showing a result.

function show(result, files) {
  page.result = result;
  page.shownfiles = files;
  page.hovered = -1;
  page.picked = null;
  page.highlighted = [];
  const bytes = result.code.length;
  const failed = result.status !== 0;
  // After an error the code is that of the statements that compiled; zvc writes none.
  $('bytes').textContent = `${bytes} byte${bytes === 1 ? '' : 's'}` + (failed ? ' (of the statements that compiled)' : '');
  $('time').textContent = `compiled in ${result.milliseconds.toFixed(1)} ms` +
    (page.compiler.inworker ? '' : ' (on the page)');
  $('state').textContent = failed ? `status ${result.status}` : 'compiled';
  $('state').className = failed ? 'failed' : 'ok';
  $('download').disabled = failed;
  const echo = result.echo.length > echoshown
    ? result.echo.slice(0, echoshown) + `… (${bytes} bytes in all)` : result.echo;
  $('echo').textContent = echo;
  const lines = result.listing === '' ? [] : result.listing.replace(/\n$/, '').split('\n');
  if (result.fault) lines.push(result.fault);
  page.listing.setlines(lines);
  showdiagnostics(result);
  showdiagnosticsineditor();
  clearsourcemarks();
}

// Every diagnostic of the compile, and the error that ended it when no diagnostic names it.
function diagnosticsof(result) {
  const list = result.diagnostics.map((found) => ({
    severity: found.severity,
    code: found.code,
    file: found.located ? found.file : '',
    line: found.located ? found.line : 0,
    column: found.located ? found.column : 0,
    endline: found.located ? found.endline : 0,
    endcolumn: found.located ? found.endcolumn : 0,
    message: found.message,
  }));
  if (result.status === 1 && !list.some((found) => found.severity === 'error' && found.message === result.message)) {
    list.push({ severity: 'error', code: 'compile-error', file: '', line: 0, column: 0, endline: 0, endcolumn: 0, message: result.message });
  }
  return list.sort((a, b) => (a.file === b.file ? 0 : a.file < b.file ? -1 : 1) || a.line - b.line || a.column - b.column);
}

function showdiagnostics(result) {
  const pane = $('diagnostics');
  const items = diagnosticsof(result).map((found) => {
    const item = document.createElement('li');
    item.className = found.severity;
    const where = found.line ? `${found.file}:${found.line}:${found.column}: ` : '';
    item.textContent = `${where}${found.severity}: ${found.message}`;
    if (found.line) item.onclick = () => revealplace(found.file, found.line, found.column, found.endline, found.endcolumn);
    return item;
  });
  for (const message of result.parsermessages) {
    const item = document.createElement('li');
    item.className = 'parser';
    item.textContent = message.text;
    items.push(item);
  }
  pane.replaceChildren(...items);
}

// An editor offset from a line and a column in characters; clamped to the document.
function offsetof(doc, line, column) {
  if (line < 1) return 0;
  if (line > doc.lines) return doc.length;
  const text = doc.line(line);
  return Math.min(text.to, text.from + unitcolumn(text.text, column) - 1);
}

function showdiagnosticsineditor() {
  if (!page.result || !page.shownfiles) return;
  const name = page.files[page.active].name;
  const doc = page.view.state.doc;
  const marks = diagnosticsof(page.result)
    .filter((found) => found.line && found.file === name)
    .map((found) => {
      const from = offsetof(doc, found.line, found.column);
      const to = Math.max(from, offsetof(doc, found.endline, found.endcolumn));
      return { from, to, severity: found.severity, message: found.message, source: found.code };
    });
  page.view.dispatch(setDiagnostics(page.view.state, marks));
}

// ---------------------------------------------------------------------------------------
// Source and byte code tied together.

function marksource(from, to, kind) {
  const marks = from < to ? Decoration.set([Decoration.mark({ class: kind }).range(from, to)]) : Decoration.none;
  page.view.dispatch({ effects: setmarks.of(marks) });
}

function clearsourcemarks() {
  page.view.dispatch({ effects: setmarks.of(Decoration.none) });
}

// The pointer or the cursor at an editor offset: mark the construct there and its bytes.
function pointat(offset) {
  const result = page.result;
  if (!result || page.generation !== page.showngeneration) return;
  const doc = page.view.state.doc;
  const line = doc.lineAt(offset);
  const column = charcolumn(line.text, offset - line.from + 1);
  const node = nodeat(result.nodes, page.files[page.active].name, line.number, column);
  if (node === page.hovered) return;
  page.hovered = node;
  page.highlighted = linesof(result, node);
  page.listing.mark(page.highlighted);
  const found = placeof(result.nodes, node);
  if (!found) return clearsourcemarks();
  marksource(offsetof(doc, found.line, found.column), offsetof(doc, found.endline, found.endcolumn), 'construct');
}

function selected(state) {
  const range = state.selection.main;
  pointat(range.head);
}

function revealplace(file, line, column, endline, endcolumn) {
  const index = page.files.findIndex((each) => each.name === file);
  if (index < 0) return;
  if (index !== page.active) showtab(index);
  const doc = page.view.state.doc;
  const from = offsetof(doc, line, column);
  const to = Math.max(from, offsetof(doc, endline, endcolumn));
  page.view.dispatch({ selection: { anchor: from }, scrollIntoView: true });
  marksource(from, to, 'origin');
  return { from, to };
}

// A click on a listing line marks the construct that made the instruction.
function pickline(index) {
  page.listing.pick(index);
  const result = page.result;
  const node = locatednode(result.nodes, nodeofline(result, index));
  const found = placeof(result.nodes, node);
  page.picked = found;
  if (!found) return clearsourcemarks();
  revealplace(found.file, found.line, found.column, found.endline, found.endcolumn);
}

// ---------------------------------------------------------------------------------------
// The hook for tests and tools (documented in web/README.md).

function hexof(bytes) {
  let text = '';
  for (const value of bytes) text += (value < 16 ? '0' : '') + value.toString(16);
  return text;
}

function describe() {
  const result = page.result;
  if (!result) return null;
  return {
    status: result.status,
    message: result.message,
    code: hexof(result.code),
    bytes: result.code.length,
    echo: result.echo,
    diagnostics: diagnosticsof(result).map(({ severity, file, line, column, message, code }) =>
      ({ severity, file, line, column, message, code })),
    parsermessages: result.parsermessages.map((message) => ({ stderr: message.stderr, text: message.text })),
    listing: result.listing,
    highlighted: page.highlighted.slice(),
    picked: page.picked,
    milliseconds: result.milliseconds,
    files: page.shownfiles.map((file) => ({ name: file.name, text: file.text })),
    inworker: page.compiler.inworker,
  };
}

function nextresult() {
  return new Promise((resolve) => page.waiters.push(resolve));
}

// ---------------------------------------------------------------------------------------
// Start.

function setup() {
  page.compiler = startcompiler();
  page.listing = new ListingView($('listing'), pickline);
  page.view = new EditorView({ parent: $('editor') });

  const picker = $('examples');
  for (const example of examples) {
    const option = document.createElement('option');
    option.value = example.name;
    option.textContent = example.name;
    picker.appendChild(option);
  }
  picker.onchange = () => {
    const example = examples.find((each) => each.name === picker.value);
    if (example) loadfiles(example.files);
  };
  $('addfile').onclick = () => {
    const name = $('newfile').value.trim();
    if (name) addtab(/\.ZVEX$/.test(name) ? name : name + '.ZVEX', '');
    $('newfile').value = '';
  };
  $('download').onclick = () => {
    if (!page.result || page.result.status !== 0) return;
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([page.result.code], { type: 'application/octet-stream' }));
    link.download = page.shownfiles[0].name.replace(/^.*[/\\]/, '').replace(/\.[^.]*$/, '') + '.zvbc';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  };
  $('share').onclick = async () => {
    await keepinfragment(filetexts());
    try { await navigator.clipboard.writeText(location.href); $('state').textContent = 'link copied'; } catch { /* no clipboard */ }
  };
  $('editor').addEventListener('mousemove', (event) => {
    const offset = page.view.posAtCoords({ x: event.clientX, y: event.clientY });
    if (offset !== null) pointat(offset);
  });

  const ready = (async () => {
    const shared = await decodefiles(location.hash);
    if (!shared) picker.value = examples[0].name;
    const files = shared || examples[0].files;
    const first = nextresult();
    loadfiles(files);
    await first;
  })();

  window.zvPlayground = {
    ready,
    setSource(text) {
      const done = nextresult();
      page.files[0].state = editorstate(text);
      if (page.active === 0) page.view.setState(page.files[0].state);
      edited(true);
      return done;
    },
    setFiles(files) {
      const done = nextresult();
      picker.value = '';
      loadfiles(files.map((file) => ({ name: String(file.name), text: String(file.text) })));
      return done;
    },
    setFile(name, text) {
      const done = nextresult();
      savetab();
      const existing = page.files.findIndex((file) => file.name === name);
      if (existing >= 0) page.files[existing].state = editorstate(text);
      else page.files.push({ name, state: editorstate(text) });
      if (page.files[page.active].name === name) page.view.setState(page.files[page.active].state);
      drawtabs();
      edited(true);
      return done;
    },
    result: describe,
    reveal: (file, line, column) => {
      const index = page.files.findIndex((each) => each.name === file);
      if (index >= 0 && index !== page.active) showtab(index);
      const doc = page.view.state.doc;
      return offsetof(doc, line, column);
    },
  };
  window.addEventListener('hashchange', async () => {
    const files = await decodefiles(location.hash);
    const current = filetexts();
    if (files && JSON.stringify(files) !== JSON.stringify(current)) {
      picker.value = '';
      loadfiles(files);
    }
  });
}

setup();
