// The compiler built to WebAssembly against the native zvc over the whole e2e corpus: every
// case that compiles a program (valid or failing) is laid out in a fresh directory and given
// to both; the WebAssembly module reads included files through its include reader. They must
// agree on the exit status, every byte of the code, the hex echo, the statement parser's
// messages and the compile error's message, each in the stream zvc prints it to. Cases that
// test only the driver's command line and files (other arguments, sparse and unreadable
// files, a file size limit, an output file that cannot be written) have nothing the library
// does and are counted apart.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';

import { loadcorpus, driveronly, tempdir, layout, runzvc, readerof, loadcompiler, zvc } from './support.mjs';

const started = 'reading file...\nfile read. compiling...\n';
const quipline = /COMPILER ERROR\n\/\/ [^\n]*\n/;

// What zvc prints for the compile that the module reports: the driver's progress lines
// around the compiler's messages, the echo of the code, or the four-line error report.
function transcript(result) {
  const text = (raw) => Buffer.from(raw).toString('latin1');
  let stdout = started;
  let stderr = '';
  for (const message of result.parsermessages) {
    if (message.stderr) stderr += text(message.raw) + '\n';
    else stdout += text(message.raw);
  }
  if (result.status === 0) {
    stdout += 'compilation finished. writing to zvbc file...\n' + result.echo +
      '\nwriting to desc.zvdc...\n\nfinished writing.\n';
    stderr += 'WARNING; desc disabled.\n';
  } else if (result.status === 1) {
    stderr += 'COMPILER ERROR\n// <quip>\nExperienced error during compilation:\n' + text(result.rawmessage) + '\n';
  }
  return { stdout, stderr };
}

test('the WebAssembly build compiles the e2e corpus as zvc does', async (t) => {
  assert.ok(fs.existsSync(zvc), `zvc is not built at ${zvc}`);
  const compiler = await loadcompiler();
  const cases = loadcorpus();
  const skipped = {};
  let compared = 0;
  let failing = 0;
  const outputfailures = [];
  for (const testcase of cases) {
    const reason = driveronly(testcase);
    if (reason) {
      skipped[reason] = (skipped[reason] || 0) + 1;
      continue;
    }
    await t.test(testcase.name, () => {
      const dir = tempdir('zvweb-corpus-');
      try {
        layout(testcase, dir);
        const native = runzvc(dir, testcase.sourcepath);
        // zvc compiled, then could not write its file: the driver's failure, not the compiler's.
        if (native.status !== 0 && native.stdout.includes('compilation finished.')) {
          outputfailures.push(testcase.name);
          return;
        }
        const result = compiler.compile(new Uint8Array(Buffer.from(testcase.source, 'latin1')), {
          name: testcase.sourcepath,
          readinclude: readerof(dir),
        });
        assert.equal(result.status, native.status, 'exit status');
        if (native.status === 0) {
          assert.ok(native.code, 'zvc wrote its byte code');
          assert.deepEqual(Buffer.from(result.code), native.code, 'byte code');
        } else {
          ++failing;
          assert.equal(native.code, null, 'zvc wrote no byte code');
        }
        const expected = transcript(result);
        assert.equal(native.stdout.toString('latin1'), expected.stdout, 'standard output');
        assert.equal(native.stderr.toString('latin1').replace(quipline, 'COMPILER ERROR\n// <quip>\n'), expected.stderr, 'standard error');
        ++compared;
      } finally {
        fs.rmSync(dir, { recursive: true, force: true });
      }
    });
  }
  t.diagnostic(`compared ${compared} cases (${failing} failing programs); driver-only cases: ${JSON.stringify(skipped)}; ` +
    `output file not writable: ${outputfailures.join(', ')}`);
  assert.ok(outputfailures.length <= 4, 'only the cases about the output file fail after compiling');
  assert.ok(compared > 200, `only ${compared} cases compared`);
  assert.ok(failing > 50, `only ${failing} failing programs compared`);
});
