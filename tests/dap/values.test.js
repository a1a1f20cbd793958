// Values in the editor come from kz51's C model: frames from the stack walk
// (recursion, reentrant functions, the interrupted frame under a handler),
// variables only where their location holds, C expressions for evaluate,
// watch and hover, writes through setVariable and setExpression, and the
// registers as $a $b $r0..$r7 $sp $dptr $pc $psw. A value that cannot be
// known is shown as <unavailable> with the reason, never as a number.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const h = require('./harness');

async function stoppedAt(way, file, mark, hits) {
  const dc = await h.startClient();
  const stops = [];
  dc.on('stopped', (e) => stops.push(e));
  const initialized = dc.waitForEvent('initialized');
  await dc.initializeRequest({ adapterID: 'kz51', linesStartAt1: true, columnsStartAt1: true });
  await dc.launchRequest({ program: h.modelProgram(way) });
  await initialized;
  const bp = await dc.setBreakpointsRequest({
    source: h.modelSource(file), breakpoints: [{ line: h.modelLine(file, mark) }] });
  assert.ok(bp.body.breakpoints[0].verified, JSON.stringify(bp.body));
  await dc.configurationDoneRequest();
  for (let k = 0; k < hits; k++) {
    if (k > 0) await dc.continueRequest({ threadId: 1 });
    const deadline = Date.now() + h.timeout;
    while (stops.length <= k) {
      if (Date.now() > deadline) throw new Error('no stop at @' + mark);
      await new Promise((r) => setTimeout(r, 5));
    }
  }
  return dc;
}

async function frames(dc) {
  return (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames;
}

async function evaluate(dc, expression, frameId, context) {
  return (await dc.evaluateRequest({ expression, frameId: frameId || 1, context: context || 'watch' })).body;
}

async function locals(dc, frameId) {
  const scopes = (await dc.scopesRequest({ frameId })).body.scopes;
  return { ref: scopes[0].variablesReference,
    vars: (await dc.variablesRequest({ variablesReference: scopes[0].variablesReference })).body.variables };
}

const unavailable = /^<unavailable> \(.+\)$/;

test('recursion: every frame its own n, caller writes through the saved copy', async () => {
  const dc = await stoppedAt('small', 'frames.c', 'fact_base', 1);
  try {
    const f = await frames(dc);
    assert.deepStrictEqual(f.map((x) => x.name), ['fact', 'fact', 'fact', 'fact', 'main']);
    for (let k = 0; k < 4; k++) assert.strictEqual((await evaluate(dc, 'n', f[k].id)).result, String(k + 1));
    // r of a caller: its registers were reused by the call; never a number,
    // and not written (the callee's register would change).
    const caller = await locals(dc, f[1].id);
    const r = caller.vars.find((v) => v.name === 'r');
    assert.match(r.value, unavailable);
    assert.match(r.value, /kept in registers, which the called code has reused/);
    await assert.rejects(dc.setVariableRequest({ variablesReference: caller.ref, name: 'r', value: '3' }),
      /cannot set r: kept in registers, which the called code has reused/);
    const before = (await evaluate(dc, '$r4')).result;
    // n of a caller is written into the copy its PUSH saved.
    const set = await dc.setVariableRequest({ variablesReference: caller.ref, name: 'n', value: '9' });
    assert.strictEqual(set.body.value, '9');
    assert.strictEqual((await evaluate(dc, 'n', f[1].id)).result, '9');
    assert.strictEqual((await evaluate(dc, 'n', f[0].id)).result, '1');
    assert.strictEqual((await evaluate(dc, '$r4')).result, before);
    // setExpression in another frame, by C expression.
    await dc.customRequest('setExpression', { expression: 'n', value: 'n * 2 + 1', frameId: f[3].id });
    assert.strictEqual((await evaluate(dc, 'n', f[3].id)).result, '9');
    await assert.rejects(dc.setVariableRequest({ variablesReference: caller.ref, name: 'n', value: '70000' }),
      /cannot set n: 70000 does not fit int \(-32768\.\.32767\)/);
  } finally {
    await dc.stop();
  }
});

test('register names are $names: a and b are the C parameters', async () => {
  const dc = await stoppedAt('stackauto', 'shapes.c', 'sum3', 1);
  try {
    const f = await frames(dc);
    assert.deepStrictEqual(f.map((x) => x.name), ['sum3', 'scaled', 'main']);
    assert.strictEqual((await evaluate(dc, 'b')).result, '9');
    assert.strictEqual((await evaluate(dc, 'c')).result, '3');
    assert.strictEqual((await evaluate(dc, 'b + c * 2')).result, '15');
    // a's registers hold a + b by now.
    await assert.rejects(evaluate(dc, 'a'), /a is unavailable here: its registers \(r6 r7\) hold another value here/);
    const regs = (await dc.variablesRequest({ variablesReference:
      (await dc.scopesRequest({ frameId: f[0].id })).body.scopes[2].variablesReference })).body.variables;
    assert.deepStrictEqual(regs.map((r) => r.name),
      ['$r0', '$r1', '$r2', '$r3', '$r4', '$r5', '$r6', '$r7', '$a', '$b', '$sp', '$psw', '$dptr', '$pc']);
    const acc = regs.find((r) => r.name === '$a');
    assert.strictEqual(Number((await evaluate(dc, '$a')).result), parseInt(acc.value, 16));
    assert.strictEqual(Number((await evaluate(dc, '$pc')).result),
      parseInt(f[0].instructionPointerReference.split(':')[1], 16));
    // The caller's parameters on the stack through its _bp.
    assert.strictEqual((await evaluate(dc, 'k', f[1].id)).result, '3');
    assert.strictEqual((await evaluate(dc, 'p->x', f[1].id, 'hover')).result, '6');
    const p = await evaluate(dc, 'p', f[1].id);
    assert.match(p.result, /^data:0x[0-9A-F]{4}$/);
    const q = await evaluate(dc, 'q', f[2].id);
    assert.strictEqual(q.result, '{x=6, y=9}');
    const qx = (await dc.variablesRequest({ variablesReference: q.variablesReference })).body.variables;
    assert.deepStrictEqual(qx.map((v) => [v.name, v.value]), [['x', '6'], ['y', '9']]);
    await assert.rejects(evaluate(dc, 'nosuch + 1'), /unknown variable 'nosuch'/);
    await assert.rejects(evaluate(dc, 'b +'), /an operand is missing after '\+' at column 3/);
  } finally {
    await dc.stop();
  }
});

test('pointers by space, bits, chars, a function breakpoint after the prologue', async () => {
  const dc = await stoppedAt('small', 'shapes.c', 'area', 1);
  try {
    assert.match((await evaluate(dc, 'greeting')).result, /^code:0x[0-9A-F]{4} "hello"$/);
    assert.match((await evaluate(dc, 'xp')).result, /^xdata:0x[0-9A-F]{4}$/);
    assert.strictEqual((await evaluate(dc, 'xp->y')).result, '300');
    assert.strictEqual((await evaluate(dc, 'letter')).result, "111 'o'");
    assert.strictEqual((await evaluate(dc, 'ready')).result, '1');
    assert.strictEqual((await evaluate(dc, 'boxes[0].level')).result, '5');
    assert.strictEqual((await evaluate(dc, 'ratio * 2')).result, '3');
    const watch = await evaluate(dc, 'boxes[0]');
    assert.strictEqual(watch.namedVariables, 5);
    // The function breakpoint stops where the parameter holds.
    await dc.setBreakpointsRequest({ source: h.modelSource('shapes.c'), breakpoints: [] });
    const fb = await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'mix' }] });
    assert.ok(fb.body.breakpoints[0].verified);
    const stopped = dc.waitForEvent('stopped');
    await dc.continueRequest({ threadId: 1 });
    await stopped;
    const f = await frames(dc);
    assert.strictEqual(f[0].name, 'mix');
    assert.strictEqual((await evaluate(dc, 'a')).result, '1');
    assert.strictEqual((await evaluate(dc, 'b')).result, '2');
    // t has no location at all (an empty register list).
    const t = (await locals(dc, f[0].id)).vars.find((v) => v.name === 't');
    assert.match(t.value, /^<unavailable> \(sdcc recorded no location for it here \(an empty register list\)\)$/);
    // main is the outermost frame: no step out of it.
    await assert.rejects(dc.stepOutRequest({ threadId: 1, frameId: f[1].id }), /main \(frame 1\) is the outermost frame/);
  } finally {
    await dc.stop();
  }
});

test('the interrupted frame under an interrupt handler', async () => {
  const dc = await stoppedAt('small', 'frames.c', 'isr', 3);
  try {
    const f = await frames(dc);
    assert.strictEqual(f[0].name, 'timer0');
    const spin = f.find((x) => x.name === 'spin [interrupted]' || x.name === 'spin');
    assert.ok(spin, JSON.stringify(f.map((x) => x.name)));
    assert.strictEqual(f[f.length - 1].name, 'main');
    assert.strictEqual((await evaluate(dc, 'rounds', spin.id)).result, '40');
  } finally {
    await dc.stop();
  }
});

test('nothing shows a number for a value that cannot be known', async () => {
  let seen = 0;
  for (const [way, file, mark] of [['small', 'frames.c', 'fact_base'], ['stackauto', 'shapes.c', 'mix'],
    ['large', 'frames.c', 'fact_base'], ['small', 'shapes.c', 'sum3'], ['stackauto', 'frames.c', 'spin']]) {
    const dc = await stoppedAt(way, file, mark, 1);
    try {
      for (const frame of await frames(dc)) {
        for (const v of (await locals(dc, frame.id)).vars) {
          if (!v.value.startsWith('<unavailable>')) continue;
          seen++;
          assert.match(v.value, unavailable, way + ' ' + mark + ' ' + v.name);
          assert.strictEqual(v.variablesReference, 0);
          assert.strictEqual(v.memoryReference, undefined);
          await assert.rejects(evaluate(dc, v.name, frame.id), new RegExp(v.name + ' is unavailable here'));
        }
      }
    } finally {
      await dc.stop();
    }
  }
  assert.ok(seen >= 5, 'only ' + seen + ' unavailable values met');
});
