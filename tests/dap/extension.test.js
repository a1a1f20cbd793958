// The VS Code extension folder: the debugger type, its launch schema (the
// adapter's launch arguments), snippets that fit the schema, and the
// extension starting `kz51 dap` from its settings.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const Module = require('module');
const path = require('path');

const folder = path.join(__dirname, '..', '..', 'editors', 'vscode');
const manifest = require(path.join(folder, 'package.json'));

test('package.json contributes the kz51 debugger with the launch schema', () => {
  const [dbg] = manifest.contributes.debuggers;
  assert.strictEqual(dbg.type, 'kz51');
  const props = dbg.configurationAttributes.launch.properties;
  assert.deepStrictEqual(Object.keys(props).sort(),
    ['driver', 'emulator', 'program', 'sourceDirectories', 'stopOnEntry']);
  assert.deepStrictEqual(dbg.configurationAttributes.launch.required, ['program']);
  const bodies = dbg.configurationSnippets.map((s) => s.body).concat(dbg.initialConfigurations);
  assert.ok(bodies.length >= 3);
  for (const b of bodies) {
    assert.strictEqual(b.type, 'kz51');
    assert.strictEqual(b.request, 'launch');
    for (const k of Object.keys(b)) {
      if (!['type', 'request', 'name'].includes(k)) assert.ok(k in props, k + ' is not in the schema');
    }
  }
  assert.ok(manifest.activationEvents.includes('onDebug'));
});

test('the extension starts kz51 dap with the configured path and log', () => {
  const settings = { adapterPath: '/opt/kz51/kz51', adapterLog: '/tmp/kz51-dap.log' };
  let factory = null;
  const stub = {
    workspace: { getConfiguration: (s) => ({ get: (k, d) => (s === 'kz51' && k in settings ? settings[k] : d) }) },
    debug: { registerDebugAdapterDescriptorFactory: (type, f) => { assert.strictEqual(type, 'kz51'); factory = f; return {}; } },
    DebugAdapterExecutable: class { constructor(command, args) { this.command = command; this.args = args; } },
  };
  const load = Module._load;
  Module._load = function (request, ...rest) {
    return request === 'vscode' ? stub : load.call(this, request, ...rest);
  };
  try {
    const ext = require(path.join(folder, manifest.main));
    const context = { subscriptions: [] };
    ext.activate(context);
    assert.strictEqual(context.subscriptions.length, 1);
    const d = factory.createDebugAdapterDescriptor({});
    assert.strictEqual(d.command, '/opt/kz51/kz51');
    assert.deepStrictEqual(d.args, ['dap', '--log', '/tmp/kz51-dap.log']);
    settings.adapterLog = '';
    assert.deepStrictEqual(factory.createDebugAdapterDescriptor({}).args, ['dap']);
  } finally {
    Module._load = load;
  }
});
