// Protocol robustness of `kz51 dap`: malformed frames, unknown requests,
// requests in the wrong state and launches that cannot work are answered
// with success false and a message; the adapter neither crashes nor hangs.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { RawClient, startClient, program, launchArgs, hostPath } = require('./harness');

const frame = (body) => 'Content-Length: ' + Buffer.byteLength(body) + '\r\n\r\n' + body;

const malformed = [
  ['body that is not JSON', frame('{bad'), /not a JSON object/],
  ['JSON that is not an object', frame('[1,2]'), /not a JSON object/],
  ['request without a command', frame('{"seq":5,"type":"request"}'), /not a request/],
  ['message that is not a request', frame('{"seq":6,"type":"event","event":"x"}'), /not a request/],
  ['command that is not a string', frame('{"seq":7,"type":"request","command":42}'), /not a request/],
  ['length that is not a number', 'Content-Length: abc\r\n\r\n', /not a number/],
  ['length beyond the limit', 'Content-Length: 99999999999\r\n\r\n', /exceeds the limit/],
  ['header block without a length', 'Content-Type: application/json\r\n\r\n', /no Content-Length/],
  ['bytes outside any frame', 'hello there\r\n\r\n', /expected a Content-Length/],
];

test('malformed frames are answered one by one and the adapter keeps serving', async () => {
  const c = new RawClient();
  for (let i = 0; i < malformed.length; i++) {
    const [what, bytes, message] = malformed[i];
    c.writeRaw(bytes);
    const r = (await c.responses(i + 1))[i];
    assert.strictEqual(r.success, false, what);
    assert.match(r.message, message, what);
  }
  c.send({ seq: 1, type: 'request', command: 'initialize', arguments: { adapterID: 'kz51' } });
  const all = await c.responses(malformed.length + 1);
  const init = all[malformed.length];
  assert.strictEqual(init.success, true);
  assert.strictEqual(init.request_seq, 1);
  assert.strictEqual(init.body.supportsConfigurationDoneRequest, true);
  // Stray bytes glued to the next header: reported, then the frame is served.
  c.writeRaw('junk' + frame('{"seq":2,"type":"request","command":"threads"}'));
  const more = await c.responses(malformed.length + 3);
  assert.strictEqual(more[malformed.length + 1].success, false);
  assert.strictEqual(more[malformed.length + 2].command, 'threads');
  assert.strictEqual(more[malformed.length + 2].success, true);
  assert.strictEqual(c.responsesSoFar().length, malformed.length + 3);
  const exit = await c.close();
  assert.deepStrictEqual(exit, { code: 0, signal: null });
});

test('input that ends inside a frame ends the adapter cleanly', async () => {
  const c = new RawClient();
  c.writeRaw('Content-Length: 100\r\n\r\n{"seq":1');
  const exit = await c.close();
  assert.deepStrictEqual(exit, { code: 0, signal: null });
});

test('unknown requests and requests in the wrong state', async () => {
  const c = new RawClient();
  const cases = [
    [{ command: 'fooBar' }, /unsupported request "fooBar"/],
    [{ command: 'launch', arguments: { program: 'x.ihx' } }, /not allowed before initialize/],
    [{ command: 'stackTrace', arguments: { threadId: 1 } }, /not allowed before initialize/],
    [{ command: 'initialize', arguments: {} }, null],
    [{ command: 'initialize', arguments: {} }, /already/],
    [{ command: 'configurationDone' }, /not allowed before launch/],
    [{ command: 'continue', arguments: { threadId: 1 } }, /not allowed before launch/],
    [{ command: 'setBreakpoints', arguments: { source: { path: 'a.c' }, breakpoints: [{ line: 1 }] } },
      /not allowed before launch/],
    [{ command: 'readMemory', arguments: { memoryReference: 'xdata:0', count: 4 } },
      /not allowed before launch/],
    [{ command: 'launch', arguments: {} }, /needs "program"/],
    [{ command: 'launch', arguments: { program: 42 } }, /needs "program"/],
    [{ command: 'launch', arguments: { program: '/nonexistent/kz51/none.ihx' } }, /cannot open/],
    [{ command: 'pause', arguments: { threadId: 1 } }, /not allowed before/],
    [{ command: 'unknownRequestWithArgs', arguments: { a: [1, 2, { b: null }] } }, /unsupported/],
  ];
  for (let i = 0; i < cases.length; i++) {
    const [req, message] = cases[i];
    c.send(Object.assign({ seq: 100 + i, type: 'request' }, req));
    const r = (await c.responses(i + 1))[i];
    assert.strictEqual(r.request_seq, 100 + i);
    assert.strictEqual(r.command, req.command);
    if (message === null) {
      assert.strictEqual(r.success, true, JSON.stringify(r));
    } else {
      assert.strictEqual(r.success, false, req.command);
      assert.match(r.message, message, req.command);
    }
  }
  c.send({ seq: 999, type: 'request', command: 'disconnect', arguments: {} });
  const last = (await c.responses(cases.length + 1))[cases.length];
  assert.strictEqual(last.success, true);
  assert.deepStrictEqual(await c.close(), { code: 0, signal: null });
});

test('a program without its .cdb is refused with a message', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kz51-dap-nocdb-'));
  try {
    const hex = path.join(dir, 'stepper.ihx');
    fs.copyFileSync(program('stepper'), hex);
    const dc = await startClient();
    try {
      await dc.initializeRequest({ adapterID: 'kz51' });
      await assert.rejects(dc.launchRequest({ program: hostPath(hex) }), /stepper\.cdb is missing/);
      // The adapter is still there and answers.
      const t = await dc.threadsRequest();
      assert.strictEqual(t.body.threads.length, 1);
    } finally {
      await dc.stop();
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('the provider launch argument: an unknown one is refused, the USB provider names the cause', async () => {
  const dc = await startClient();
  try {
    await dc.initializeRequest({ adapterID: 'kz51' });
    await assert.rejects(dc.launchRequest(launchArgs('stepper', { provider: 'serial' })),
      /"provider" is virtual \(the virtual emulator, the default\) or usb/);
    // No emulator hardware here: the launch fails with the provider's sentence.
    await assert.rejects(
      dc.launchRequest(launchArgs('stepper', { provider: 'usb', usb: 'vid=0x1234,pid=0x9999' })),
      process.env.KZ51_DAP_WRAPPER ? /on Windows the driver reaches the emulator through the usbd12\.dll/
        : /no emulator answered: no USB device 1234:9999 \(the ids KZ51_USB names\) is connected/);
    const t = await dc.threadsRequest();
    assert.strictEqual(t.body.threads.length, 1);
  } finally {
    await dc.stop();
  }
});

// Linux only: on Windows the driver's usbd12.dll decides, and a connection
// that fails there waits in the driver's project dialog for a person.
test('the provider cannot change within one adapter process: the driver keeps the first',
  { skip: process.env.KZ51_DAP_WRAPPER ? 'the provider is chosen on Linux' : false }, async () => {
  const dc = await startClient();
  try {
    await dc.initializeRequest({ adapterID: 'kz51' });
    // The virtual emulator is loaded with the driver, and does not answer.
    await assert.rejects(dc.launchRequest(launchArgs('stepper', { emulator: 'fault=silent' })),
      /no emulator answered/);
    await assert.rejects(
      dc.launchRequest(launchArgs('stepper', { provider: 'usb', usb: 'vid=0x1234,pid=0x5678' })),
      /this process already uses the virtual provider; start it again to use the usb provider/);
  } finally {
    await dc.stop();
  }
});
