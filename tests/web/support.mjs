// What the playground's tests share: where the WebAssembly folder and the native zvc are, the
// e2e case corpus read into programs with their files, a case's files laid out in a fresh
// directory, zvc run there, and the compiler module loaded into Node.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const webdir = process.env.ZV_WEB_DIR || path.join(root, 'build/wasm/web');
export const zvc = process.env.ZVC || path.join(root, 'build/test/zvc');
export const outdir = process.env.ZV_WEB_OUT || path.join(root, 'build/wasm/test-output');

// ---------------------------------------------------------------------------------------
// The corpus (tests/e2e/cases/README.md describes its format). Texts are held as Latin-1
// strings, one character per byte, so that every byte of a case survives as it is.

function expandrepeats(text) {
  return text.replace(/@@(\d+)\*([\s\S]*?)@@/g, (_, count, body) => body.repeat(Number(count)));
}

function parsehex(text) {
  const bytes = [];
  for (let at = 0; at < text.length;) {
    const c = text[at];
    if (/\s/.test(c)) { ++at; continue; }
    if (c === '#') { const end = text.indexOf('\n', at); at = end < 0 ? text.length : end; continue; }
    if (c === '"') {
      let end = text.indexOf('"', at + 1);
      if (end < 0) end = text.length;
      for (const ch of text.slice(at + 1, end)) bytes.push(ch.charCodeAt(0));
      at = end + 1;
      continue;
    }
    if (/[0-9a-fA-F]{2}/.test(text.slice(at, at + 2))) {
      bytes.push(parseInt(text.slice(at, at + 2), 16));
      at += 2;
      continue;
    }
    throw new Error('bad hex at: ' + text.slice(at, at + 20));
  }
  return String.fromCharCode(...bytes);
}

const linefeeds = (text) => text.replaceAll('{LF}', '\n');
const known = new Set(['hex', 'crlf', 'noeol', 'prefix', 'unreadable', 'any']);

function addsection(testcase, head, lines) {
  while (lines.length && lines[lines.length - 1] === '') lines.pop();
  let body = lines.map((line) => line + '\n').join('');
  const flags = new Set();
  let size = 0;
  let where = '';
  for (const word of head.slice(1)) {
    if (known.has(word)) flags.add(word);
    else if (word.startsWith('size=')) size = Number(word.slice(5));
    else if (!where) where = linefeeds(word);
  }
  if (flags.has('hex')) body = parsehex(body);
  if (flags.has('noeol') && body.endsWith('\n')) body = body.slice(0, -1);
  if (flags.has('crlf')) body = body.replaceAll('\n', '\r\n');
  switch (head[0]) {
  case 'source':
    testcase.source = body;
    if (where) testcase.sourcepath = where;
    break;
  case 'file':
    testcase.files.push({ path: where, content: body, unreadable: flags.has('unreadable'), size });
    break;
  case 'dir':
    testcase.files.push({ path: where, dir: true });
    break;
  case 'args':
    testcase.args = lines.map(linefeeds);
    break;
  case 'fsizelimit':
    testcase.fsizelimit = Number(where);
    break;
  default:
    break; // expectations: these tests take zvc's own output as the expectation
  }
}

function loadfile(file) {
  const text = expandrepeats(fs.readFileSync(file, 'latin1'));
  const stem = path.basename(file, '.case');
  const cases = [];
  let head = null;
  let lines = [];
  const flush = () => {
    if (head && cases.length) addsection(cases[cases.length - 1], head, lines);
    head = null;
    lines = [];
  };
  for (const line of text.split('\n')) {
    if (line.startsWith('=== ') || line.startsWith('--- ')) {
      flush();
      const words = line.slice(4).split(/\s+/).filter(Boolean);
      if (line[0] === '=') {
        cases.push({ name: `${stem}_${words[0] || ''}`, sourcepath: 'prog.zv', source: null, files: [], args: null, fsizelimit: 0 });
      } else {
        head = words.length ? words : ['?'];
      }
    } else if (head) {
      lines.push(line);
    }
  }
  flush();
  return cases;
}

export function loadcorpus() {
  const dir = path.join(root, 'tests/e2e/cases');
  return fs.readdirSync(dir).filter((name) => name.endsWith('.case')).sort()
    .flatMap((name) => loadfile(path.join(dir, name)));
}

// Why a case is not one for the library (it tests the driver's command line or its files),
// or null when it is: a program compiled by its path.
export function driveronly(testcase) {
  if (testcase.source === null) return 'no source';
  if (testcase.args && !(testcase.args.length === 1 && testcase.args[0] === testcase.sourcepath)) return 'other arguments';
  if (testcase.fsizelimit) return 'file size limit';
  if (testcase.files.some((file) => file.size)) return 'sparse file';
  if (testcase.files.some((file) => file.unreadable)) return 'unreadable file';
  return null;
}

// ---------------------------------------------------------------------------------------
// Running zvc.

export function tempdir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

export function layout(testcase, dir) {
  // The directories of a path as written: "./sub/../x" needs sub to exist.
  const makedirs = (where) => {
    let at = dir;
    for (const part of where.split('/').slice(0, -1)) {
      at += '/' + part;
      if (part !== '.' && part !== '..') fs.mkdirSync(at, { recursive: true });
    }
  };
  const write = (where, content) => {
    makedirs(where);
    fs.writeFileSync(dir + '/' + where, Buffer.from(content, 'latin1'));
  };
  write(testcase.sourcepath, testcase.source);
  for (const file of testcase.files) {
    if (file.dir) fs.mkdirSync(path.join(dir, file.path), { recursive: true });
    else write(file.path, file.content);
  }
}

// zvc's run on `sourcepath` in `dir`: its exit status, standard output and error (Buffers),
// and the byte code it wrote (null when none).
export function runzvc(dir, sourcepath) {
  const run = spawnSync(zvc, [sourcepath], { cwd: dir, timeout: 60000, maxBuffer: 1 << 30 });
  if (run.error) throw run.error;
  const written = fs.readdirSync(dir, { withFileTypes: true })
    .filter((entry) => entry.isFile() && entry.name.endsWith('.zvbc')).map((entry) => entry.name);
  return {
    status: run.status,
    stdout: run.stdout,
    stderr: run.stderr,
    code: written.length === 1 ? fs.readFileSync(path.join(dir, written[0])) : null,
  };
}

// The include reader of a directory, as zvc has it: the file's bytes, null when unreadable.
export function readerof(dir) {
  return (where) => {
    try {
      return new Uint8Array(fs.readFileSync(path.join(dir, where)));
    } catch {
      return null;
    }
  };
}

// ---------------------------------------------------------------------------------------
// The compiler in WebAssembly, loaded from the static folder.

export async function loadcompiler() {
  const require = createRequire(import.meta.url);
  const create = require(path.join(webdir, 'zvweb.js'));
  return create();
}
