// The adapter as an editor uses it, on the ticker program (a timer interrupt
// ticks while main loops; sources in src/, built in build/): breakpoint ids,
// conditions, hit conditions and log points, breakpoints set while the
// target runs, stepping over interrupts, source paths, scopes and paging,
// disassembly before address 0, launch settings, the debug console,
// completions and restart.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const h = require('./harness');

const T = h.ticker;
const isAbsolute = (p) => path.isAbsolute(p) || /^[A-Za-z]:\\/.test(p);
// A path the adapter sends names the file the test knows (under wine: Z:\...).
const samePath = (sent, file) => sent === h.hostPath(file);

async function launched(dc, extra) {
  dc.events = [];
  for (const name of ['stopped', 'output', 'breakpoint']) dc.on(name, (e) => dc.events.push(e));
  const initialized = dc.waitForEvent('initialized');
  const init = await dc.initializeRequest({ adapterID: 'kz51', linesStartAt1: true, columnsStartAt1: true });
  await dc.launchRequest(Object.assign({ program: h.hostPath(T.program) }, extra || {}));
  await initialized;
  return init.body;
}

// The first stopped event after `request`'s response, and the console
// output between them.
async function stoppedAfter(dc, request) {
  const response = await request;
  const deadline = Date.now() + h.timeout;
  for (;;) {
    const e = dc.events.find((x) => x.event === 'stopped' && x.seq > response.seq);
    if (e) {
      const output = dc.events.filter((x) => x.event === 'output' && x.seq > response.seq && x.seq < e.seq)
        .map((x) => x.body.output).join('');
      dc.events = dc.events.filter((x) => x.seq > e.seq);
      return Object.assign({ output }, e.body);
    }
    if (Date.now() > deadline) throw new Error('no stopped event after ' + response.command);
    await new Promise((r) => setTimeout(r, 5));
  }
}

async function top(dc) {
  return (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames;
}

// The number an expression shows (chars show their character after it).
async function value(dc, expression) {
  return parseInt((await dc.evaluateRequest({ expression, frameId: 1, context: 'watch' })).body.result, 10);
}

const lineBp = (file, lines) => ({ source: { path: h.hostPath(T.source(file)) }, breakpoints: lines });

test('breakpoint ids, conditions, hit conditions and log points', async () => {
  const dc = await h.startClient();
  try {
    const caps = await launched(dc, { stopOnEntry: true });
    for (const c of ['supportsConditionalBreakpoints', 'supportsHitConditionalBreakpoints', 'supportsLogPoints',
      'supportsSteppingGranularity', 'supportsRestartRequest', 'supportsCompletionsRequest']) {
      assert.strictEqual(caps[c], true, c);
    }
    const store = T.line('util.c', 'store');
    const set = (await dc.setBreakpointsRequest(lineBp('util.c', [
      { line: store, condition: 'k == 3' }, { line: store + 4, condition: 'k ==' },
      { line: store + 4, hitCondition: 'x5' }]))).body.breakpoints;
    assert.strictEqual(set[0].verified, true);
    assert.deepStrictEqual(set.slice(1).map((b) => b.verified), [false, false]);
    assert.match(set[1].message, /condition/);
    assert.match(set[2].message, /hit condition "x5"/);
    const fn = (await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'work', hitCondition: '2' }] }))
      .body.breakpoints[0];
    // Every breakpoint has an id, each its own.
    const ids = [...set, fn].map((b) => b.id);
    assert.ok(ids.every(Number.isInteger), JSON.stringify(ids));
    assert.strictEqual(new Set(ids).size, ids.length);
    await stoppedAfter(dc, dc.configurationDoneRequest());

    // The condition holds at the fourth call of record only.
    let ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'breakpoint');
    assert.deepStrictEqual(ev.hitBreakpointIds, [set[0].id]);
    assert.strictEqual(await value(dc, 'k'), 3);
    // The same breakpoint set again keeps its id.
    const again = (await dc.setBreakpointsRequest(lineBp('util.c', [{ line: store, condition: 'k == 3' }])))
      .body.breakpoints;
    assert.strictEqual(again[0].id, set[0].id);
    await dc.setBreakpointsRequest(lineBp('util.c', []));

    // The function breakpoint acts on its second hit: work(1).
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.deepStrictEqual(ev.hitBreakpointIds, [fn.id]);
    assert.strictEqual((await top(dc))[0].name, 'work');
    assert.strictEqual(await value(dc, 'n'), 1);
    await dc.setFunctionBreakpointsRequest({ breakpoints: [] });

    // A log point writes its message and runs on; the third hit of @led stops.
    const lp = (await dc.setBreakpointsRequest(lineBp('ticker.c', [
      { line: T.line('ticker.c', 'loop'), logMessage: 'n={n} {{ticks}}' },
      { line: T.line('ticker.c', 'led'), hitCondition: '>=3' }]))).body.breakpoints;
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.deepStrictEqual(ev.hitBreakpointIds, [lp[1].id]);
    const logged = (output) => output.split('\n').filter((l) => l).map((l) => {
      const m = /^n=(\d+)\b.* \{ticks\}$/.exec(l);
      assert.ok(m, l);
      return Number(m[1]);
    });
    assert.deepStrictEqual(logged(ev.output), [1, 2, 3]);
    assert.strictEqual(await value(dc, 'n'), 4);
    ev = await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.deepStrictEqual(ev.hitBreakpointIds, [lp[1].id]);
    assert.deepStrictEqual(logged(ev.output), [4]);
  } finally {
    await dc.stop();
  }
});

test('breakpoints set while the target runs act in that run', async () => {
  const dc = await h.startClient();
  try {
    await launched(dc);
    await dc.configurationDoneRequest();  // runs freely in main's loop
    await new Promise((r) => setTimeout(r, 200));
    // A line, then a function, then an instruction breakpoint, each set
    // while the target runs: each stops the run it was set in.
    const line = (await dc.setBreakpointsRequest(lineBp('util.c', [{ line: T.line('util.c', 'triple') }])))
      .body.breakpoints[0];
    assert.strictEqual(line.verified, true);
    let ev = await stoppedAfter(dc, Promise.resolve({ seq: 0, command: 'setBreakpoints' }));
    assert.strictEqual(ev.reason, 'breakpoint');
    assert.deepStrictEqual(ev.hitBreakpointIds, [line.id]);
    const caller = (await top(dc))[1];
    await dc.setBreakpointsRequest(lineBp('util.c', []));

    const since = dc.events.length ? dc.events[dc.events.length - 1].seq : 0;
    await dc.continueRequest({ threadId: 1 });
    await new Promise((r) => setTimeout(r, 200));
    const fn = (await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'work' }] })).body.breakpoints[0];
    ev = await stoppedAfter(dc, Promise.resolve({ seq: since, command: 'setFunctionBreakpoints' }));
    assert.deepStrictEqual(ev.hitBreakpointIds, [fn.id]);
    await dc.setFunctionBreakpointsRequest({ breakpoints: [] });

    const since2 = dc.events.length ? dc.events[dc.events.length - 1].seq : 0;
    await dc.continueRequest({ threadId: 1 });
    await new Promise((r) => setTimeout(r, 200));
    const ib = (await dc.customRequest('setInstructionBreakpoints', {
      breakpoints: [{ instructionReference: caller.instructionPointerReference }] })).body.breakpoints[0];
    ev = await stoppedAfter(dc, Promise.resolve({ seq: since2, command: 'setInstructionBreakpoints' }));
    assert.deepStrictEqual(ev.hitBreakpointIds, [ib.id]);
    assert.strictEqual((await top(dc))[0].instructionPointerReference, caller.instructionPointerReference);
    // No pause was ever shown.
    assert.ok(!dc.events.some((e) => e.event === 'stopped' && e.body.reason === 'pause'));
  } finally {
    await dc.stop();
  }
});

test('next and instruction steps never stop in the interrupt handler', async () => {
  const dc = await h.startClient();
  try {
    await launched(dc);
    await dc.setBreakpointsRequest(lineBp('ticker.c', [{ line: T.line('ticker.c', 'loop') }]));
    await stoppedAfter(dc, dc.configurationDoneRequest());
    await dc.setBreakpointsRequest(lineBp('ticker.c', []));
    const ticks = await value(dc, 'ticks');
    const rows = [[150, {}], [150, { steppingGranularity: 'instruction' }]];
    for (const [times, extra] of rows) {
      let inHandler = 0;
      let lastPc = '';
      for (let i = 0; i < times; i++) {
        const ev = await stoppedAfter(dc, dc.nextRequest(Object.assign({ threadId: 1 }, extra)));
        assert.strictEqual(ev.reason, 'step');
        const f = (await top(dc))[0];
        if (f.name === 'timer0_isr') inHandler++;
        assert.notStrictEqual(f.instructionPointerReference, lastPc);
        lastPc = f.instructionPointerReference;
      }
      assert.strictEqual(inHandler, 0, JSON.stringify(extra));
    }
    assert.ok(await value(dc, 'ticks') > ticks + 5, 'the timer did not tick');
    // Under the interrupt handler the stack shows the interrupted frame, at
    // the instruction it resumes with; stepOut goes back there.
    await dc.setBreakpointsRequest(lineBp('ticker.c', [{ line: T.line('ticker.c', 'isr') }]));
    await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    await dc.setBreakpointsRequest(lineBp('ticker.c', []));
    const frames = await top(dc);
    assert.strictEqual(frames[0].name, 'timer0_isr');
    const names = JSON.stringify(frames.map((f) => f.name));
    assert.match(frames[1].name, / \[interrupted\]$/, names);
    assert.strictEqual(frames[frames.length - 1].name, 'main', names);
    const resumes = frames[1].instructionPointerReference;
    const ev = await stoppedAfter(dc, dc.stepOutRequest({ threadId: 1 }));
    assert.strictEqual(ev.reason, 'step');
    assert.strictEqual((await top(dc))[0].instructionPointerReference, resumes);
    // stepIn by instruction: the next instruction (or an interrupt's vector).
    const before = (await top(dc))[0].instructionPointerReference;
    const dis = (await dc.disassembleRequest({ memoryReference: before, instructionCount: 2 })).body.instructions;
    await stoppedAfter(dc, dc.stepInRequest({ threadId: 1, steppingGranularity: 'instruction' }));
    const after = parseInt((await top(dc))[0].instructionPointerReference.split(':')[1], 16);
    assert.ok(after === parseInt(dis[1].address, 16) || after < 0x30, after.toString(16));
  } finally {
    await dc.stop();
  }
});

test('source paths are absolute and name existing files, or only the name', async () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'kz51-dap-src-'));
  try {
    for (const f of fs.readdirSync(path.join(T.dir, 'build'))) fs.copyFileSync(path.join(T.dir, 'build', f), path.join(tmp, f));
    const program = h.hostPath(path.join(tmp, 'ticker.ihx'));
    const rows = [
      // [launch arguments, source path util.c must get (null: the name only)]
      [{ program: h.hostPath(T.program) }, T.source('util.c')],  // where the listing says it was compiled
      [{ program }, null],
      [{ program, sourceDirectories: [h.hostPath(path.join(T.dir, 'src'))] }, T.source('util.c')],
    ];
    for (const [args, utilPath] of rows) {
      const dc = await h.startClient();
      try {
        await launched(dc, args);
        // The editor's path for ticker.c is the one sent back for it.
        const r = await dc.setBreakpointsRequest(lineBp('ticker.c', []));
        assert.deepStrictEqual(r.body.breakpoints, []);
        await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'work' }] });
        await stoppedAfter(dc, dc.configurationDoneRequest());
        const frames = await top(dc);
        assert.deepStrictEqual(frames.slice(0, 2).map((f) => f.name), ['work', 'main']);
        assert.ok(samePath(frames[1].source.path, T.source('ticker.c')), JSON.stringify(frames[1].source));
        const util = frames[0].source;
        if (utilPath === null) {
          assert.strictEqual(util.path, undefined, JSON.stringify(util));
          assert.strictEqual(util.name, 'util.c');
          assert.strictEqual(util.presentationHint, 'deemphasize');
        } else {
          assert.ok(samePath(util.path, utilPath), JSON.stringify(util) + ' ' + JSON.stringify(args));
        }
        for (const f of frames.filter((x) => x.source && x.source.path)) {
          assert.ok(isAbsolute(f.source.path), f.source.path);
        }
      } finally {
        await dc.stop();
      }
    }
  } finally {
    fs.rmSync(tmp, { recursive: true, force: true });
  }
});

test('scopes, paging, disassembly before 0000h, the console, completions and restart', async () => {
  const dc = await h.startClient();
  try {
    await launched(dc);
    await dc.setBreakpointsRequest(lineBp('ticker.c', [{ line: T.line('ticker.c', 'led') }]));
    await stoppedAfter(dc, dc.configurationDoneRequest());
    const scopes = (await dc.scopesRequest({ frameId: 1 })).body.scopes;
    assert.deepStrictEqual(scopes.map((s) => s.name), ['Locals', 'Globals', 'Registers', 'SFRs']);
    const vars = async (ref, extra) =>
      (await dc.variablesRequest(Object.assign({ variablesReference: ref }, extra || {}))).body.variables;
    const globals = await vars(scopes[1].variablesReference);
    const names = globals.map((v) => v.name);
    assert.deepStrictEqual([...names].sort(), ['greeting', 'limit', 'n', 'ready', 'samples', 'scale', 'ticks']);
    const sfrs = await vars(scopes[3].variablesReference);
    const sfr = (name) => sfrs.find((v) => v.name === name);
    assert.strictEqual(sfr('TMOD').value, '0x02');
    assert.strictEqual(sfr('TR0').value, '1');
    assert.strictEqual(sfr('TMOD').memoryReference, 'sfr:0x0089');
    // A long array comes in pages.
    const samples = globals.find((v) => v.name === 'samples');
    assert.strictEqual(samples.indexedVariables, 300);
    const page = await vars(samples.variablesReference, { start: 200, count: 100 });
    assert.strictEqual(page.length, 100);
    assert.strictEqual(page[0].name, '[200]');
    assert.strictEqual(page[99].name, '[299]');
    assert.strictEqual((await vars(samples.variablesReference, { start: 290, count: 50 })).length, 10);

    // Before address 0 nothing is made up.
    const dis = (await dc.disassembleRequest({ memoryReference: 'code:0x0003', instructionOffset: -8,
      instructionCount: 12 })).body.instructions;
    const addresses = dis.map((i) => parseInt(i.address, 16));
    assert.strictEqual(addresses.filter((a) => a === 0).length, 1, JSON.stringify(addresses));
    assert.deepStrictEqual(addresses, [...addresses].sort((a, b) => a - b));

    // The debug console runs kz51 commands after a backtick.
    const repl = (expression) => dc.evaluateRequest({ expression, frameId: 1, context: 'repl' });
    assert.match((await repl('`info registers')).body.result, /psw/);
    assert.match((await repl('`list work')).body.result, /int work\(unsigned char k\) \{/);
    await assert.rejects(repl('`go'), /editor/);
    await assert.rejects(repl('`break work'), /editor/);
    await assert.rejects(repl('`frobnicate'), /unknown command 'frobnicate'/);
    const labels = async (text) =>
      (await dc.customRequest('completions', { text, column: text.length + 1, frameId: 1 })).body.targets.map((t) => t.label);
    assert.ok((await labels('`disas')).includes('disassemble'));
    assert.ok((await labels('`info reg')).includes('registers'));
    assert.deepStrictEqual(await labels('sam'), ['samples']);
    assert.ok((await labels('1 + ti')).includes('ticks'));

    // Restart: from reset, the breakpoint is reached again as the first time.
    assert.strictEqual(await value(dc, 'n'), 1);
    await stoppedAfter(dc, dc.continueRequest({ threadId: 1 }));
    assert.strictEqual(await value(dc, 'n'), 2);
    const ev = await stoppedAfter(dc, dc.customRequest('restart', {}));
    assert.strictEqual(ev.reason, 'breakpoint');
    assert.strictEqual(await value(dc, 'n'), 1);
  } finally {
    await dc.stop();
  }
});

test('a launch with bad emulator settings fails with a message', async () => {
  for (const [emulator, message] of [['pod=99,bogus', /pod=99/], ['pod=1,bogus', /bogus/], ['fault=nothing', /fault=nothing/]]) {
    const dc = await h.startClient();
    try {
      await dc.initializeRequest({ adapterID: 'kz51' });
      await assert.rejects(dc.launchRequest({ program: h.hostPath(T.program), emulator }), message);
      assert.strictEqual((await dc.threadsRequest()).body.threads.length, 1);
    } finally {
      await dc.stop();
    }
  }
});
