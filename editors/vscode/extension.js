// VS Code client for zv: starts the language server `zv lsp` over standard input/output, with the
// program taken from the setting `zv.server.path`, and restarts it when that setting changes.
'use strict';

const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

function createClient() {
  const command = vscode.workspace.getConfiguration('zv').get('server.path') || 'zv';
  const serverOptions = { command, args: ['lsp'], transport: TransportKind.stdio };
  const clientOptions = {
    documentSelector: [
      { scheme: 'file', language: 'zv' },
      { scheme: 'untitled', language: 'zv' },
    ],
  };
  return new LanguageClient('zv', 'zv language server', serverOptions, clientOptions);
}

async function start() {
  client = createClient();
  try {
    await client.start();
  } catch (err) {
    const command = vscode.workspace.getConfiguration('zv').get('server.path') || 'zv';
    vscode.window.showErrorMessage(
      `zv: could not start the language server "${command} lsp" (${err.message}). ` +
        'Set zv.server.path to the zv program.'
    );
  }
}

async function stop() {
  if (!client) return;
  const running = client;
  client = undefined;
  try {
    await running.stop();
  } catch {
    // a server that never started has nothing to stop
  }
}

async function activate(context) {
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration(async (event) => {
      if (!event.affectsConfiguration('zv.server.path')) return;
      await stop();
      await start();
    })
  );
  await start();
}

function deactivate() {
  return stop();
}

module.exports = { activate, deactivate };
