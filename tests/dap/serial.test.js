// The target's serial output in the debug console: with the virtual
// emulator the adapter follows its serial_out file and sends what the
// target transmits as stdout output events, all of it before each stop.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const h = require('./harness');

const P = 'serial';
const FIRST = 'hello from the 8051\r\n';
const ALL = FIRST + 'abc\r\nbye\r\n';

const privateFiles = () => fs.readdirSync(os.tmpdir()).filter((f) => f.startsWith('kz51-serial-'));

// Runs to @first, then to @end, and returns the stdout text that preceded
// each stopped event.
async function runThrough(dc, emulator) {
  const events = [];
  dc.on('output', (e) => events.push(e));
  dc.on('stopped', (e) => events.push(e));
  const initialized = dc.waitForEvent('initialized');
  await dc.initializeRequest({ adapterID: 'kz51', linesStartAt1: true, columnsStartAt1: true });
  await dc.launchRequest(h.launchArgs(P, emulator === undefined ? {} : { emulator }));
  await initialized;
  const bp = (m) => dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [{ line: h.line(P, m) }] });
  await bp('first');
  const stdoutBefore = async (request) => {
    const response = await request;
    const deadline = Date.now() + h.timeout;
    for (;;) {
      const stop = events.find((e) => e.event === 'stopped' && e.seq > response.seq);
      if (stop) {
        return events.filter((e) => e.event === 'output' && e.body.category === 'stdout' && e.seq < stop.seq)
          .map((e) => e.body.output).join('');
      }
      if (Date.now() > deadline) throw new Error('no stopped event after ' + response.command);
      await new Promise((r) => setTimeout(r, 5));
    }
  };
  const atFirst = await stdoutBefore(dc.configurationDoneRequest());
  await bp('end');
  const atEnd = await stdoutBefore(dc.continueRequest({ threadId: 1 }));
  const t = dc.waitForEvent('terminated');
  await dc.terminateRequest({});
  await t;
  const exited = new Promise((resolve) => dc._adapterProcess.on('exit', (code) => resolve(code)));
  await dc.disconnectRequest({});
  assert.strictEqual(await exited, 0);
  const after = events.filter((e) => e.event === 'output' && e.body.category === 'stdout')
    .map((e) => e.body.output).join('');
  return { atFirst, atEnd, after };
}

test('serial output arrives as stdout output events before each stop', async (t) => {
  const userFile = path.join(os.tmpdir(), 'kz51-dap-uart-' + process.pid + '.txt');
  const cases = [
    // A private temporary file, removed at the end of the session.
    { name: 'private file', emulator: 'seed=7', expect: ALL },
    { name: 'private file for serial_out=stdout', emulator: 'serial_out=stdout', expect: ALL },
    // The user's own file: followed from where it ended, kept afterwards.
    { name: 'user file', emulator: 'serial_out=' + h.hostPath(userFile), expect: ALL, user: true },
    // Without the virtual emulator's settings nothing is followed.
    { name: 'no emulator settings', emulator: undefined, expect: '' },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      if (c.user) fs.writeFileSync(userFile, 'from before\n');
      const before = privateFiles();
      const dc = await h.startClient();
      try {
        const r = await runThrough(dc, c.emulator);
        assert.strictEqual(r.atFirst, c.expect && FIRST);
        assert.strictEqual(r.atEnd, c.expect);
        assert.strictEqual(r.after, c.expect);
        if (c.user) assert.strictEqual(fs.readFileSync(userFile, 'latin1'), 'from before\n' + ALL);
      } finally {
        dc.stopAdapter();
        if (c.user) fs.rmSync(userFile, { force: true });
      }
      // The adapter removed its private file (under wine it lies in wine's own temp).
      if (!process.env.KZ51_DAP_WRAPPER) assert.deepStrictEqual(privateFiles(), before);
    });
  }
});
