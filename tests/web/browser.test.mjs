// The playground page in headless Chromium, served from the static folder on the loopback
// address: a program typed into the editor gives zvdis's listing, zvc's bytes and zvc's error;
// the pointer over a construct marks exactly its bytes in the listing, and a listing line
// marks its construct; a shared link brings the same files back; a deep and a large program
// compile in the worker while the page keeps answering; the page also works from file://.
// Screenshots go to the test output folder for a person to look at.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { createRequire } from 'node:module';

import { root, webdir, outdir, zvc, tempdir, runzvc } from './support.mjs';

const require = createRequire(path.join(root, 'web/package.json'));
const puppeteer = require('puppeteer-core');
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const zvdis = process.env.ZVDIS || path.join(path.dirname(zvc), 'src/tools/zvdis');

let server = null;
let browser = null;
let base = '';

async function freeport() {
  return new Promise((resolve) => {
    const probe = net.createServer();
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

async function waitforserver(port) {
  for (let tries = 0; tries < 100; ++tries) {
    const up = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => { socket.end(); resolve(true); });
      socket.on('error', () => resolve(false));
    });
    if (up) return;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error('the static server did not start');
}

before(async () => {
  assert.ok(fs.existsSync(path.join(webdir, 'index.html')), `no page at ${webdir}`);
  fs.mkdirSync(outdir, { recursive: true });
  const port = await freeport();
  server = spawn('python3', ['-m', 'http.server', '-b', '127.0.0.1', String(port), '-d', webdir], { stdio: 'ignore' });
  await waitforserver(port);
  base = `http://127.0.0.1:${port}/`;
  browser = await puppeteer.launch({
    executablePath: chromium,
    args: ['--no-sandbox', '--headless=new'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.kill();
});

async function openpage(url = base) {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (failure) => problems.push(failure.message));
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  await page.setViewport({ width: 1400, height: 900 });
  await page.goto(url, { waitUntil: 'load' });
  await page.evaluate(() => window.zvPlayground.ready);
  page.problems = problems;
  return page;
}

// Closes a page after checking that it reported no script error.
async function closepage(page) {
  assert.deepEqual(page.problems, [], 'errors on the page');
  await page.close();
}

async function screenshot(page, name) {
  await page.screenshot({ path: path.join(outdir, name + '.png') });
}

// zvc and zvdis on a program with its included files: status, byte code, error message and
// zvdis's listing of the code.
function native(source, includes = {}) {
  const dir = tempdir('zvweb-browser-');
  try {
    fs.writeFileSync(path.join(dir, 'prog.zv'), source);
    for (const [name, text] of Object.entries(includes)) fs.writeFileSync(path.join(dir, name), text);
    const run = runzvc(dir, 'prog.zv');
    const lines = run.stderr.toString().split('\n');
    const error = lines[0] === 'COMPILER ERROR' ? lines[3] : null;
    let listing = null;
    if (run.code) {
      const dis = spawnSync(zvdis, [path.join(dir, 'prog.zvbc')], { maxBuffer: 1 << 30 });
      assert.equal(dis.status, 0, 'zvdis lists the code');
      listing = dis.stdout.toString();
    }
    return { status: run.status, code: run.code ? run.code.toString('hex') : '', error, listing };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Waits until the page shows the compile of `text` as its program.
async function shown(page, text) {
  await page.waitForFunction((expected) => {
    const result = window.zvPlayground.result();
    return result && result.files[0].text === expected;
  }, { timeout: 60000 }, text);
  return page.evaluate(() => window.zvPlayground.result());
}

// Types a program into the editor as a person would, replacing what is there.
async function typeprogram(page, text) {
  await page.click('.cm-content');
  await page.keyboard.down('Control');
  await page.keyboard.press('a');
  await page.keyboard.up('Control');
  await page.keyboard.press('Backspace');
  await page.keyboard.type(text, { delay: 0 });
  return shown(page, text);
}

const typed = [
  { name: 'valid', source: 'x = 1\nprint(x + 2)\nnames = ["a", "b"]\n' },
  { name: 'compile-error', source: 'a = 1\nb = (c))\n', line: 2 },
  { name: 'unclosed', source: 'f(1,\ng\n' },
  { name: 'warning-free unicode', source: 'print("h\u00e9llo \u2603")\n' },
];

// A page with one empty program, prog.zv.
async function blankpage(url) {
  const page = await openpage(url);
  await page.evaluate(() => window.zvPlayground.setFiles([{ name: 'prog.zv', text: '' }]));
  return page;
}

test('a typed program gives zvc\'s bytes, zvdis\'s listing and zvc\'s error', async () => {
  const page = await blankpage();
  for (const example of typed) {
    const result = await typeprogram(page, example.source);
    const expected = native(example.source);
    assert.equal(result.status, expected.status, `${example.name}: status`);
    if (expected.status === 0) {
      assert.equal(result.code, expected.code, `${example.name}: bytes`);
      assert.equal(result.bytes, expected.code.length / 2, `${example.name}: byte count`);
      assert.equal(result.listing, expected.listing, `${example.name}: listing`);
      const count = await page.$eval('#bytes', (node) => node.textContent);
      assert.equal(count, `${result.bytes} bytes`, `${example.name}: byte count shown`);
      const echo = await page.$eval('#echo', (node) => node.textContent);
      assert.equal(echo.replace(/ /g, '').length > 0, true);
      assert.equal(echo.trim().split(' ').map((byte) => byte.padStart(2, '0')).join(''), expected.code,
        `${example.name}: hex echo`);
    }
    if (expected.error) {
      const errors = result.diagnostics.filter((found) => found.severity === 'error');
      assert.ok(errors.some((found) => found.message === expected.error), `${example.name}: zvc's message ${expected.error}`);
      const located = errors.find((found) => found.message === expected.error && found.line > 0);
      assert.ok(located, `${example.name}: the error is located`);
      assert.equal(located.line, example.line, `${example.name}: error line`);
      // Shown in the editor and in the list, with its line and column.
      await page.waitForSelector('.cm-lintRange-error');
      const listed = await page.$$eval('#diagnostics li.error', (items) => items.map((item) => item.textContent));
      assert.ok(listed.some((text) => text.startsWith(`prog.zv:${located.line}:${located.column}: error: ${expected.error}`)),
        `${example.name}: listed as ${listed}`);
    }
    if (example.name === 'unclosed') {
      assert.ok(result.diagnostics.some((found) => found.severity === 'error' && found.line === 1),
        'the unclosed call is marked where it opens');
    }
    await screenshot(page, 'typed-' + example.name.replace(/\W+/g, '-'));
  }
  await closepage(page);
});

test('the download button saves the byte code zvc writes, named after the program', async () => {
  const page = await blankpage();
  const source = 'if x {print("hi")}\nn = [1, 2.5, "three"]\n';
  await page.evaluate((text) => window.zvPlayground.setSource(text), source);
  await shown(page, source);
  const saved = tempdir('zvweb-download-');
  try {
    const session = await page.createCDPSession();
    // Chromium reserves the file's name with an empty file before it writes the bytes, so the test
    // waits for the download to say it is complete rather than for the file to appear.
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: saved, eventsEnabled: true });
    const done = new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('the download did not complete in 20 s')), 20000);
      session.on('Browser.downloadProgress', (event) => {
        if (event.state === 'completed' || event.state === 'canceled') {
          clearTimeout(timer);
          resolve(event.state);
        }
      });
    });
    await page.click('#download');
    assert.equal(await done, 'completed');
    const file = path.join(saved, 'prog.zvbc');
    assert.equal(fs.readFileSync(file).toString('hex'), native(source).code);
  } finally {
    fs.rmSync(saved, { recursive: true, force: true });
  }
  await closepage(page);
});

test('every failing statement is reported and the others compile (keep-going mode)', async () => {
  const page = await blankpage();
  const good = ['a = 1', 'f(2)', 'h(4)'];
  const bad = [{ line: 2, text: 'b = (c))' }, { line: 4, text: 'g = 3 +' }];
  const source = [good[0], bad[0].text, good[1], bad[1].text, good[2]].join('\n') + '\n';
  await page.evaluate((text) => window.zvPlayground.setSource(text), source);
  const result = await shown(page, source);
  assert.equal(result.status, 1, 'the status of the first error');
  assert.equal(result.code, native(good.join('\n') + '\n').code, 'the code of the statements that compiled');
  const errors = result.diagnostics.filter((found) => found.severity === 'error');
  assert.deepEqual(errors.map((found) => [found.line, found.message]),
    bad.map((each) => [each.line, native(each.text + '\n').error]));
  assert.equal(await page.$$eval('.cm-lintRange-error', (marks) => marks.length), 2);
  assert.equal(await page.$eval('#download', (button) => button.disabled), true, 'no download of failed code');
  await screenshot(page, 'keep-going');
  await closepage(page);
});

// The byte ranges of listing lines, from the offsets the listing prints.
function linebytes(result, lines) {
  const offsets = result.listing.trimEnd().split('\n').map((line) => Number(line.trim().split(/\s+/)[0]));
  const code = Buffer.from(result.code, 'hex');
  return lines.map((line) => code.subarray(offsets[line], line + 1 < offsets.length ? offsets[line + 1] : code.length)
    .toString('hex')).join('');
}

// The screen point of a character of the program (1-based line, 0-based column).
async function pointof(page, line, column) {
  return page.evaluate((line, column) => {
    const element = document.querySelectorAll('.cm-line')[line - 1];
    const walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
    let left = column;
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      if (left < node.length) {
        const range = document.createRange();
        range.setStart(node, left);
        range.setEnd(node, left + 1);
        const box = range.getBoundingClientRect();
        return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
      }
      left -= node.length;
    }
    throw new Error('no such character');
  }, line, column);
}

test('the pointer over a construct marks its bytes; a listing line marks its construct', async () => {
  const page = await blankpage();
  const source = 'a = 1\nf(b, 2)\nif a {g}\nlist = [1, x, "s"]\n';
  await page.evaluate((text) => window.zvPlayground.setSource(text), source);
  const result = await shown(page, source);
  // What to point at, and the program whose whole code is that construct's bytes.
  const targets = [
    { line: 2, column: 0, alone: 'f(b, 2)\n' },
    { line: 2, column: 2, alone: 'b\n' },
    { line: 3, column: 6, alone: 'g\n' },
    { line: 4, column: 11, alone: 'x\n' },
    { line: 1, column: 2, alone: 'a = 1\n' },
  ];
  for (const target of targets) {
    const point = await pointof(page, target.line, target.column);
    await page.mouse.move(point.x, point.y);
    const highlighted = await page.evaluate(() => window.zvPlayground.result().highlighted);
    assert.ok(highlighted.length > 0, `something marked for ${target.alone}`);
    assert.equal(linebytes(result, highlighted), native(target.alone).code, `bytes of ${target.alone.trim()}`);
    const marked = await page.$$eval('.listing .line.marked', (lines) => lines.map((line) => Number(line.dataset.index)));
    assert.deepEqual(marked, highlighted.filter((line) => marked.includes(line)), 'the marked lines are those reported');
    assert.ok(marked.length > 0, 'marked lines are in view');
  }
  await screenshot(page, 'hover');

  // A click on the line of LOAD "b" marks `b` in the source.
  const lines = result.listing.trimEnd().split('\n');
  const loadb = lines.findIndex((line) => line.endsWith('LOAD "b"'));
  await page.click(`.listing .line[data-index="${loadb}"]`);
  const picked = await page.evaluate(() => window.zvPlayground.result().picked);
  assert.deepEqual(picked, { file: 'prog.zv', line: 2, column: 3, endline: 2, endcolumn: 4 });
  assert.equal(await page.$eval('.origin', (node) => node.textContent), 'b');
  await screenshot(page, 'listing-click');
  await closepage(page);
});

test('a shared link brings the program and its included files back', async () => {
  const page = await blankpage();
  const library = 'def twice(n) {\n    return n*2\n}\n';
  const source = 'also lib\nprint(twice(21))\nprint("caf\u00e9 \u{1F600}")\n';
  await page.evaluate((text) => window.zvPlayground.setFile('lib.ZVEX', text), library);
  await page.evaluate((text) => window.zvPlayground.setSource(text), source);
  const first = await shown(page, source);
  assert.equal(first.status, 0);
  assert.equal(first.code, native(source, { 'lib.ZVEX': library }).code, 'the include tab is read');
  // A listing line made by the included file shows its tab and marks the construct there.
  const lines = first.listing.trimEnd().split('\n');
  const loadn = lines.findIndex((line) => line.endsWith('LOAD "n"'));
  await page.click(`.listing .line[data-index="${loadn}"]`);
  const picked = await page.evaluate(() => window.zvPlayground.result().picked);
  assert.deepEqual(picked, { file: 'lib.ZVEX', line: 2, column: 12, endline: 2, endcolumn: 13 });
  assert.equal(await page.$eval('.tab.active', (tab) => tab.dataset.name), 'lib.ZVEX');
  assert.equal(await page.$eval('.origin', (node) => node.textContent), 'n');
  await screenshot(page, 'include-tab');
  await page.waitForFunction(() => location.hash.length > 3);
  const link = await page.evaluate(() => location.href);
  await closepage(page);

  const again = await openpage(link);
  const second = await shown(again, source);
  assert.deepEqual(second.files, [{ name: 'prog.zv', text: source }, { name: 'lib.ZVEX', text: library }]);
  assert.equal(second.code, first.code);
  const tabs = await again.$$eval('.tab', (tabs) => tabs.map((tab) => tab.dataset.name));
  assert.deepEqual(tabs, ['prog.zv', 'lib.ZVEX']);
  await screenshot(again, 'shared-link');
  await closepage(again);
});

// Sets a program without waiting, then counts how long the page's own timer went without
// running while the worker compiled it.
async function compilewhilewatching(page, source) {
  return page.evaluate(async (text) => {
    let last = performance.now();
    let longest = 0;
    let ticks = 0;
    const timer = setInterval(() => {
      const now = performance.now();
      longest = Math.max(longest, now - last);
      last = now;
      ++ticks;
    }, 10);
    const started = performance.now();
    const result = await window.zvPlayground.setSource(text);
    const elapsed = performance.now() - started;
    clearInterval(timer);
    return { status: result.status, code: result.code, bytes: result.bytes, lines: result.listing.split('\n').length - 1,
      longest, ticks, elapsed, milliseconds: result.milliseconds, inworker: result.inworker };
  }, source);
}

test('a deep and a large program compile in the worker while the page stays responsive', async (t) => {
  const page = await blankpage();
  const deep = 'x = ' + '('.repeat(1990) + '1' + ')'.repeat(1990) + '\n' +
    'if a {'.repeat(500) + 'f' + '}'.repeat(500) + '\n';
  const statements = [];
  for (let index = 0; statements.join('').length < 400000; ++index) {
    statements.push(`value${index} = [${index}, "text ${index}", ${index}.5]\nprint(value${index} + ${index})\n`);
  }
  const large = statements.join('');
  for (const [name, source] of [['deep', deep], ['large', large]]) {
    const seen = await compilewhilewatching(page, source);
    const expected = native(source);
    assert.equal(seen.inworker, true, `${name}: compiled in the worker`);
    assert.equal(seen.status, 0, `${name}: compiled`);
    assert.equal(seen.code, expected.code, `${name}: bytes`);
    assert.equal(seen.lines, expected.listing.split('\n').length - 1, `${name}: listing lines`);
    t.diagnostic(`${name}: ${source.length} characters, ${seen.bytes} bytes, compile ${seen.milliseconds.toFixed(0)} ms, ` +
      `shown after ${seen.elapsed.toFixed(0)} ms, longest pause of the page ${seen.longest.toFixed(0)} ms`);
    assert.ok(seen.longest < 1000, `${name}: the page paused ${seen.longest.toFixed(0)} ms`);
    await screenshot(page, name);
  }
  await closepage(page);
});

test('the page compiles from a file:// URL, on the page when no worker may start', async () => {
  const page = await blankpage('file://' + path.join(webdir, 'index.html'));
  const source = 'f(1)\n';
  await page.evaluate((text) => window.zvPlayground.setSource(text), source);
  const result = await shown(page, source);
  assert.equal(result.code, native(source).code);
  // Chromium starts no worker from a file:// page: the fallback compiled it.
  assert.equal(result.inworker, false);
  await screenshot(page, 'file-url');
  await closepage(page);
});
