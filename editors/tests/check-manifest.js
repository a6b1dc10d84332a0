// Checks that the VS Code extension's manifest (package.json) holds together: the files it
// names exist, the grammar, the language and the setting agree with one another, and
// extension.js starts `<zv.server.path> lsp` for that language. Plain node, no dependencies.
// Usage: node check-manifest.js [EXTENSION_DIR]   (default: ../vscode beside this file)
'use strict';

const fs = require('fs');
const path = require('path');
const Module = require('module');

const dir = path.resolve(process.argv[2] || path.join(__dirname, '..', 'vscode'));
const manifest = JSON.parse(fs.readFileSync(path.join(dir, 'package.json'), 'utf8'));
const contributes = manifest.contributes || {};
const languages = contributes.languages || [];
const grammars = contributes.grammars || [];
const settings = (contributes.configuration || {}).properties || {};

// The file `relative` (as the manifest names it) inside the extension, or null if missing.
function existing(relative) {
  if (typeof relative !== 'string') return null;
  const full = path.join(dir, relative);
  return fs.existsSync(full) && fs.statSync(full).isFile() ? full : null;
}

// JSON with whole-line // comments, as VS Code accepts for language configurations.
function readJsonc(file) {
  const text = fs.readFileSync(file, 'utf8').replace(/^\s*\/\/.*$/gm, '');
  return JSON.parse(text);
}

// Loads extension.js with stand-ins for `vscode` and the language client, activates it,
// and returns the server and client options it gave the language client.
async function activateWithStubs(mainFile, serverPath) {
  const made = [];
  const vscode = {
    workspace: {
      getConfiguration: (section) => ({
        get: (key) => (section === 'zv' && key === 'server.path' ? serverPath : undefined),
      }),
      onDidChangeConfiguration: () => ({ dispose() {} }),
    },
    window: { showErrorMessage: (message) => made.push({ error: message }) },
  };
  class LanguageClient {
    constructor(id, name, serverOptions, clientOptions) {
      made.push({ id, serverOptions, clientOptions });
    }
    start() { return Promise.resolve(); }
    stop() { return Promise.resolve(); }
  }
  const stubs = {
    vscode,
    'vscode-languageclient/node': { LanguageClient, TransportKind: { stdio: 0 } },
  };
  const load = Module._load;
  Module._load = function (request, ...rest) {
    return request in stubs ? stubs[request] : load.call(this, request, ...rest);
  };
  try {
    delete require.cache[mainFile];
    const extension = require(mainFile);
    await extension.activate({ subscriptions: [] });
    await extension.deactivate();
  } finally {
    Module._load = load;
  }
  return made;
}

const checks = [
  ['main file exists', () => existing(manifest.main) ? null : `main "${manifest.main}" not found`],
  ['language zv is contributed with .zv and .ZVEX', () => {
    const zv = languages.find((l) => l.id === 'zv');
    if (!zv) return 'no language with id "zv"';
    const missing = ['.zv', '.ZVEX'].filter((e) => !(zv.extensions || []).includes(e));
    return missing.length ? `extensions lack ${missing.join(', ')}` : null;
  }],
  ['every language configuration exists and parses', () => {
    for (const l of languages) {
      const file = existing(l.configuration);
      if (!file) return `configuration "${l.configuration}" of ${l.id} not found`;
      const config = readJsonc(file);
      const bad = (config.brackets || []).filter((p) => !Array.isArray(p) || p.length !== 2);
      if (!config.brackets || bad.length) return `${l.configuration}: brackets must be pairs`;
      if (!(config.autoClosingPairs || []).some((p) => p.open === '"')) {
        return `${l.configuration}: double quotes are not auto-closed`;
      }
    }
    return null;
  }],
  ['every grammar belongs to a contributed language and its file agrees', () => {
    if (!grammars.length) return 'no grammar contributed';
    for (const g of grammars) {
      const language = languages.find((l) => l.id === g.language);
      if (!language) return `grammar ${g.scopeName} names unknown language "${g.language}"`;
      const file = existing(g.path);
      if (!file) return `grammar path "${g.path}" not found`;
      const grammar = JSON.parse(fs.readFileSync(file, 'utf8'));
      if (grammar.scopeName !== g.scopeName) {
        return `${g.path} has scopeName "${grammar.scopeName}", manifest says "${g.scopeName}"`;
      }
      const types = (grammar.fileTypes || []).map((t) => `.${t}`).sort().join(' ');
      const extensions = [...(language.extensions || [])].sort().join(' ');
      if (types !== extensions) return `${g.path} fileTypes [${types}] differ from extensions [${extensions}]`;
    }
    return null;
  }],
  ['activation events name contributed languages', () => {
    const ids = new Set(languages.map((l) => l.id));
    const bad = (manifest.activationEvents || [])
      .filter((e) => e.startsWith('onLanguage:') && !ids.has(e.slice('onLanguage:'.length)));
    return bad.length ? `unknown languages in ${bad.join(', ')}` : null;
  }],
  ['setting zv.server.path is a string defaulting to zv', () => {
    const s = settings['zv.server.path'];
    if (!s) return 'setting zv.server.path not contributed';
    return s.type === 'string' && s.default === 'zv' ? null : 'zv.server.path must be a string defaulting to "zv"';
  }],
  ['every module the main file requires is declared', () => {
    const source = fs.readFileSync(existing(manifest.main) || '/dev/null', 'utf8');
    const declared = new Set(Object.keys(manifest.dependencies || {}));
    const missing = [...source.matchAll(/require\(\s*'([^']+)'\s*\)/g)]
      .map((m) => m[1])
      .filter((name) => name !== 'vscode' && !name.startsWith('.') && !Module.builtinModules.includes(name))
      .filter((name) => !declared.has(name.startsWith('@') ? name.split('/').slice(0, 2).join('/') : name.split('/')[0]));
    return missing.length ? `not in dependencies: ${missing.join(', ')}` : null;
  }],
  ['the client starts "<zv.server.path> lsp" for every contributed language', async () => {
    const mainFile = existing(manifest.main);
    if (!mainFile) return 'no main file';
    const made = await activateWithStubs(mainFile, '/opt/zv/bin/zv');
    const client = made.find((m) => m.serverOptions);
    if (!client) return `no language client created${made.length ? `: ${made[0].error}` : ''}`;
    const { command, args } = client.serverOptions;
    if (command !== '/opt/zv/bin/zv' || JSON.stringify(args) !== '["lsp"]') {
      return `server started as ${command} ${JSON.stringify(args)}`;
    }
    const selected = new Set((client.clientOptions.documentSelector || []).map((s) => s.language));
    const unserved = languages.map((l) => l.id).filter((id) => !selected.has(id));
    return unserved.length ? `documents of ${unserved.join(', ')} not sent to the server` : null;
  }],
];

(async () => {
  let passed = 0;
  let failed = 0;
  for (const [name, check] of checks) {
    let problem;
    try {
      problem = await check();
    } catch (err) {
      problem = `threw ${err.message}`;
    }
    if (problem) {
      failed++;
      console.log(`not ok - ${name}: ${problem}`);
    } else {
      passed++;
      console.log(`ok - ${name}`);
    }
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
