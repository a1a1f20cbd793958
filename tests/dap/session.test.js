// A debugging session through the DAP test client: C-line breakpoints,
// stepping over lines and calls, into and out of functions, callers on the
// stack, values checked against ucsim at the same place, variables set,
// memory read and written, a free-running loop paused, disassembly.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');
const h = require('./harness');

const P = 'stepper';

async function launched(dc, extra, lines) {
  dc.stops = [];
  dc.on('stopped', (e) => dc.stops.push(e));
  const initialized = dc.waitForEvent('initialized');
  const banner = dc.assertOutput('console', 'kz51: connected to ');
  await dc.initializeRequest({ adapterID: 'kz51', linesStartAt1: true, columnsStartAt1: true });
  await dc.launchRequest(h.launchArgs(P, extra));
  await initialized;
  assert.match((await banner).body.output, /loaded \d+ bytes from stepper\.ihx \(0x0000\.\.0x[0-9A-F]{4}\)/);
  if (lines) {
    const r = await dc.setBreakpointsRequest({
      source: h.source(P), breakpoints: lines.map((line) => ({ line })) });
    r.body.breakpoints.forEach((b) => assert.ok(b.verified, JSON.stringify(b)));
  }
}

// The stopped event that follows `request`'s response: events are matched
// by sequence number, so an event is never taken for a later request.
async function stoppedAfter(dc, request) {
  const response = await request;
  const deadline = Date.now() + h.timeout;
  for (;;) {
    const e = dc.stops.find((x) => x.seq > response.seq);
    if (e) {
      dc.stops = dc.stops.filter((x) => x.seq > e.seq);
      return e.body;
    }
    if (Date.now() > deadline) throw new Error('no stopped event after ' + response.command);
    await new Promise((r) => setTimeout(r, 5));
  }
}

async function top(dc) {
  const st = await dc.stackTraceRequest({ threadId: 1 });
  return st.body.stackFrames;
}

async function evaluate(dc, expression, frameId) {
  return (await dc.evaluateRequest({ expression, frameId: frameId || 1, context: 'watch' })).body;
}

// Each expression's value equals ucsim's bytes at the same address.
async function matchUcsim(dc, snap, expressions, frameId) {
  for (const e of expressions) {
    const r = await evaluate(dc, e, frameId);
    assert.ok(r.memoryReference, e + ' has no memory reference');
    assert.strictEqual(parseInt(r.result, 10), h.valueIn(snap, r.memoryReference, r.type), e);
  }
}

const pcOf = (frame) => parseInt(frame.instructionPointerReference.split(':')[1], 16);

test('breakpoints, stepping and values against ucsim', async () => {
  const dc = await h.startClient();
  try {
    const L = (m) => h.line(P, m);
    await launched(dc, {}, [L('seven')]);
    let ev = await stoppedAfter(dc, dc.configurationDoneRequest());
    assert.strictEqual(ev.reason, 'breakpoint');
    let frames = await top(dc);
    assert.strictEqual(frames[0].name, 'main');
    assert.strictEqual(frames[0].line, L('seven'));
    assert.strictEqual(frames[0].source.path.split(/[\\/]/).pop(), 'stepper.c');
    let snap = h.s51Snapshot(P, pcOf(frames[0]), 1);
    assert.strictEqual(snap.pc, pcOf(frames[0]));
    await matchUcsim(dc, snap, ['table[0]', 'table[5]', 'table[7]', 'origin.x', 'origin.y',
      'total', 'counter', 'buffer[3]', 'buffer[15]']);
    // Chars show their character.
    assert.strictEqual((await evaluate(dc, 'table[5]')).result, "16 '\\x10'");
    // Pointers show the address they hold, in its space.
    const table = await evaluate(dc, 'table');
    const cursor = await evaluate(dc, 'cursor');
    assert.strictEqual(cursor.result, 'data:0x' + (parseInt(table.memoryReference.split(':0x')[1], 16) + 2)
      .toString(16).toUpperCase().padStart(4, '0'));
    assert.strictEqual((await evaluate(dc, 'xcursor')).result, 'xdata:0x' + (parseInt(
      (await evaluate(dc, 'buffer')).memoryReference.split(':0x')[1], 16) + 5).toString(16).toUpperCase().padStart(4, '0'));

    // next over a line, then into the call.
    ev = await stoppedAfter(dc, dc.nextRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'step');
    assert.strictEqual((await top(dc))[0].line, L('sum'));
    assert.strictEqual((await evaluate(dc, 'counter')).result, '7');
    ev = await stoppedAfter(dc, dc.stepInRequest({ threadId: 1 }));
    frames = await top(dc);
    assert.strictEqual(frames[0].name, 'sum_squares');
    assert.strictEqual(frames[1].name, 'main');

    // A breakpoint inside the nested call: three frames, locals there.
    await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [{ line: L('square') }] });
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'breakpoint');
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    frames = await top(dc);
    assert.deepStrictEqual(frames.map((f) => f.name), ['square', 'sum_squares', 'main']);
    assert.strictEqual(frames[0].line, L('square'));
    assert.strictEqual(frames[1].line, L('call'));
    snap = h.s51Snapshot(P, pcOf(frames[0]), 2);
    const v = await evaluate(dc, 'v');
    assert.strictEqual(parseInt(v.result, 10), snap.iram[6] + 256 * snap.iram[7]);
    await matchUcsim(dc, snap, ['seen[0]', 'seen[1]', 'acc', 'n'], frames[1].id);
    // The caller's register variable i is read from the copy its PUSH before
    // the call left on the stack, not from the callee's registers: the
    // second call of square is for i = 1.
    assert.strictEqual((await evaluate(dc, 'i', frames[1].id)).result, "1 '\\x01'");
    assert.strictEqual(Number((await evaluate(dc, '$sp', frames[1].id)).result),
      Number((await evaluate(dc, '$sp')).result) - 2);
    const scopes = (await dc.scopesRequest({ frameId: frames[0].id })).body.scopes;
    assert.deepStrictEqual(scopes.map((s) => s.name), ['Locals', 'Globals', 'Registers', 'SFRs']);
    const locals = (await dc.variablesRequest({ variablesReference: scopes[0].variablesReference }))
      .body.variables;
    assert.ok(locals.some((x) => x.name === 'v' && x.value === v.result), JSON.stringify(locals));
    const regs = (await dc.variablesRequest({ variablesReference: scopes[2].variablesReference }))
      .body.variables;
    assert.strictEqual(parseInt(regs.find((x) => x.name === '$r7').value, 16), snap.iram[7]);

    // stepOut returns into the caller's line.
    await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [] });
    ev = await stoppedAfter(dc, dc.stepOutRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'step');
    frames = await top(dc);
    assert.strictEqual(frames[0].name, 'sum_squares');
    assert.strictEqual(frames[0].line, L('call'));

    // continue to a second breakpoint after the whole call.
    await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [{ line: L('total') }] });
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'breakpoint');
    frames = await top(dc);
    assert.strictEqual(frames[0].line, L('total'));
    snap = h.s51Snapshot(P, pcOf(frames[0]), 1);
    await matchUcsim(dc, snap, ['counter', 'origin.x', 'total', 'table[1]']);
    assert.strictEqual((await evaluate(dc, 'counter')).result, '25');
  } finally {
    await dc.stop();
  }
});

test('next over a call, variables and memory written, pause of a free run', async () => {
  const dc = await h.startClient();
  try {
    const L = (m) => h.line(P, m);
    await launched(dc, {}, [L('sum')]);
    await stoppedAfter(dc, dc.configurationDoneRequest());
    const ev = await stoppedAfter(dc, dc.nextRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'step');
    const frames = await top(dc);
    assert.strictEqual(frames[0].line, L('origin'));
    assert.strictEqual((await evaluate(dc, 'counter')).result, '25');

    // setVariable through the Globals scope, checked by readMemory.
    const scopes = (await dc.scopesRequest({ frameId: frames[0].id })).body.scopes;
    const globalsRef = scopes[1].variablesReference;
    const set = await dc.setVariableRequest({ variablesReference: globalsRef, name: 'counter', value: '-2' });
    assert.strictEqual(set.body.value, '-2');
    const counter = await evaluate(dc, 'counter');
    const mem = await dc.customRequest('readMemory', { memoryReference: counter.memoryReference, count: 2 });
    assert.deepStrictEqual([...Buffer.from(mem.body.data, 'base64')], [0xFE, 0xFF]);
    await assert.rejects(
      dc.setVariableRequest({ variablesReference: globalsRef, name: 'counter', value: '70000' }),
      /does not fit/);
    // A structure member through its children.
    const globals = (await dc.variablesRequest({ variablesReference: globalsRef })).body.variables;
    const origin = globals.find((x) => x.name === 'origin');
    assert.strictEqual(origin.value, '{x=3, y=-4}');
    await dc.setVariableRequest({ variablesReference: origin.variablesReference, name: 'y', value: '0x1234' });
    assert.strictEqual((await evaluate(dc, 'origin.y')).result, '4660');

    // writeMemory into xdata, seen through the array and readMemory.
    const w = await dc.customRequest('writeMemory', {
      memoryReference: 'xdata:0x0000', offset: 1, data: Buffer.from([7, 8, 9]).toString('base64') });
    assert.strictEqual(w.body.bytesWritten, 3);
    assert.strictEqual((await evaluate(dc, 'buffer[1]')).result, "8 '\\b'");
    const back = await dc.customRequest('readMemory', { memoryReference: 'xdata:0x0001', count: 4 });
    assert.deepStrictEqual([...Buffer.from(back.body.data, 'base64')], [7, 8, 9, 0xA3]);
    await assert.rejects(dc.customRequest('readMemory', { memoryReference: 'nowhere:0x10', count: 1 }),
      /unknown memory space/);

    // Disassembly at the PC matches the code bytes.
    const dis = await dc.disassembleRequest({
      memoryReference: frames[0].instructionPointerReference, instructionOffset: 0, instructionCount: 3 });
    assert.strictEqual(dis.body.instructions.length, 3);
    assert.strictEqual(parseInt(dis.body.instructions[0].address, 16), pcOf(frames[0]));
    assert.strictEqual(dis.body.instructions[0].line, L('origin'));

    // Free run into the endless loop, then pause from the client.
    await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [] });
    await dc.continueRequest({ threadId: 1 });
    // While it runs: inspection is refused, threads and breakpoints are not.
    await assert.rejects(dc.stackTraceRequest({ threadId: 1 }), /target is running/);
    await assert.rejects(evaluate(dc, 'counter'), /target is running/);
    await assert.rejects(dc.continueRequest({ threadId: 1 }), /target is running/);
    assert.strictEqual((await dc.threadsRequest()).body.threads[0].id, 1);
    const later = await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [{ line: L('sum') }] });
    assert.strictEqual(later.body.breakpoints[0].verified, true);
    await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [] });
    await new Promise((r) => setTimeout(r, 500));
    assert.strictEqual((await stoppedAfter(dc, dc.pauseRequest({ threadId: 1 }))).reason, 'pause');
    const f = await top(dc);
    assert.strictEqual(f[0].name, 'main');
    assert.ok(Number((await evaluate(dc, 'spins')).result) > 0);
    // disconnect ends the adapter.
    const exited = new Promise((resolve) => dc._adapterProcess.on('exit', (code) => resolve(code)));
    await dc.disconnectRequest({});
    assert.strictEqual(await exited, 0);
  } finally {
    dc.stopAdapter();
  }
});

test('stop on entry, breakpoints of three kinds, lines without code', async () => {
  const dc = await h.startClient();
  try {
    await launched(dc, { stopOnEntry: true });
    const entry = await stoppedAfter(dc, dc.configurationDoneRequest());
    assert.strictEqual(entry.reason, 'entry');
    const threads = await dc.threadsRequest();
    assert.strictEqual(threads.body.threads.length, 1);
    const lastLine = require('fs').readFileSync(path.join(process.env.KZ51_DAP_PROGRAMS, P + '.c'), 'utf8')
      .split('\n').length;
    const r = await dc.setBreakpointsRequest({
      source: h.source(P),
      breakpoints: [{ line: lastLine + 20 }, { line: h.line(P, 'square') - 2 }] });
    const [none, moved] = r.body.breakpoints;
    assert.strictEqual(none.verified, false);
    assert.match(none.message, /no code/);
    assert.strictEqual(moved.verified, true);
    assert.ok(moved.line > h.line(P, 'square') - 2);
    const other = await dc.setBreakpointsRequest({ source: { path: '/elsewhere/other.c' }, breakpoints: [{ line: 3 }] });
    assert.strictEqual(other.body.breakpoints[0].verified, false);
    assert.match(other.body.breakpoints[0].message, /other\.c/);

    const fb = await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'square' }, { name: 'nosuch' }] });
    assert.strictEqual(fb.body.breakpoints[0].verified, true);
    assert.strictEqual(fb.body.breakpoints[1].verified, false);
    await dc.setBreakpointsRequest({ source: h.source(P), breakpoints: [] });
    let ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'breakpoint');
    let frames = await top(dc);
    assert.strictEqual(frames[0].name, 'square');

    await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
    const target = frames[1].instructionPointerReference;
    const ib = await dc.customRequest('setInstructionBreakpoints', {
      breakpoints: [{ instructionReference: target, offset: 3 }] });
    assert.strictEqual(ib.body.breakpoints[0].verified, true);
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    frames = await top(dc);
    assert.strictEqual(pcOf(frames[0]), pcOf({ instructionPointerReference: target }) + 3);
    assert.strictEqual(frames[0].name, 'sum_squares');

    // While stopped, requests meant for a running target are refused.
    await assert.rejects(dc.pauseRequest({ threadId: 1 }), /not running/);
    const t = dc.waitForEvent('terminated');
    await dc.terminateRequest({});
    await t;
  } finally {
    await dc.stop();
  }
});
