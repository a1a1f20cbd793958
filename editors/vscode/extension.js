// Starts `kz51 dap` for debug sessions of type kz51. Everything else (the
// launch schema, snippets) is declared in package.json.
'use strict';
const vscode = require('vscode');

function adapterDescriptor() {
  const settings = vscode.workspace.getConfiguration('kz51');
  const args = ['dap'];
  const log = settings.get('adapterLog', '');
  if (log) args.push('--log', log);
  return new vscode.DebugAdapterExecutable(settings.get('adapterPath', 'kz51'), args);
}

function activate(context) {
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory('kz51', {
      createDebugAdapterDescriptor: () => adapterDescriptor(),
    }));
}

function deactivate() {}

module.exports = { activate, deactivate };
