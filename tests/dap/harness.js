// Shared pieces of the debug adapter suites: how to start `kz51 dap`, where
// the SDCC test programs are, a raw frame client for protocol abuse, and the
// line numbers of the "@name" markers in the test program.
'use strict';
const cp = require('child_process');
const fs = require('fs');
const path = require('path');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

// KZ51_DAP: the kz51 program (run as `kz51 dap`); KZ51_DAP_WRAPPER instead: a
// shell script that starts the adapter (the wine run).
const adapter = process.env.KZ51_DAP;
const wrapper = process.env.KZ51_DAP_WRAPPER;
const programs = process.env.KZ51_DAP_PROGRAMS && path.resolve(process.env.KZ51_DAP_PROGRAMS);
if (!programs || (!adapter && !wrapper)) {
  throw new Error('set KZ51_DAP (or KZ51_DAP_WRAPPER) and KZ51_DAP_PROGRAMS');
}
// Under wine the adapter answers more slowly.
const timeout = Number(process.env.KZ51_DAP_TIMEOUT || 10000);

function command() {
  return wrapper ? ['sh', wrapper] : [adapter, 'dap'];
}

// A DAP test client on a fresh adapter.
async function startClient() {
  const [runtime, arg] = command();
  const dc = new DebugClient(runtime, arg, 'kz51', { stdio: 'pipe' }, !!process.env.KZ51_DAP_STDERR);
  dc.defaultTimeout = timeout;
  await dc.start();
  return dc;
}

// Program paths as the host that runs the adapter sees them: under wine
// the Linux path is reached through drive Z:.
function hostPath(p) {
  return wrapper ? 'Z:' + p.replace(/\//g, '\\') : p;
}

function program(name) {
  return path.join(programs, name + '.ihx');
}

function launchArgs(name, extra) {
  return Object.assign({ program: hostPath(program(name)) }, extra || {});
}

// Line of "@marker" in a test program's source.
function line(name, marker) {
  const text = fs.readFileSync(path.join(programs, name + '.c'), 'utf8').split('\n');
  const i = text.findIndex((l) => l.includes('@' + marker + ' ') || l.endsWith('@' + marker));
  if (i < 0) throw new Error('no @' + marker + ' in ' + name + '.c');
  return i + 1;
}

function source(name) {
  return { path: hostPath(path.join(programs, name + '.c')) };
}

// Raw client: writes arbitrary bytes and collects the frames that come back.
class RawClient {
  constructor() {
    const [runtime, arg] = command();
    this.proc = cp.spawn(runtime, [arg], { stdio: ['pipe', 'pipe', 'pipe'] });
    this.buffer = Buffer.alloc(0);
    this.messages = [];
    this.waiters = [];
    this.exit = new Promise((resolve) => this.proc.on('exit', (code, signal) => resolve({ code, signal })));
    this.proc.stdout.on('data', (d) => this.onData(d));
    this.proc.stderr.on('data', () => {});
  }
  onData(d) {
    this.buffer = Buffer.concat([this.buffer, d]);
    for (;;) {
      const end = this.buffer.indexOf('\r\n\r\n');
      if (end < 0) return;
      const m = /Content-Length: (\d+)/.exec(this.buffer.subarray(0, end).toString());
      if (!m) throw new Error('adapter wrote a bad header: ' + this.buffer.toString());
      const n = Number(m[1]);
      if (this.buffer.length < end + 4 + n) return;
      this.messages.push(JSON.parse(this.buffer.subarray(end + 4, end + 4 + n).toString()));
      this.buffer = this.buffer.subarray(end + 4 + n);
      this.waiters = this.waiters.filter((w) => !w());
    }
  }
  writeRaw(bytes) {
    this.proc.stdin.write(bytes);
  }
  send(obj) {
    const body = Buffer.from(JSON.stringify(obj));
    this.writeRaw(Buffer.concat([Buffer.from('Content-Length: ' + body.length + '\r\n\r\n'), body]));
  }
  // Resolves with the first `count` responses once they are there.
  responses(count) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(
        () => reject(new Error('adapter answered ' + this.responsesSoFar().length + ' of ' + count)),
        timeout);
      const check = () => {
        const r = this.responsesSoFar();
        if (r.length < count) return false;
        clearTimeout(timer);
        resolve(r.slice(0, count));
        return true;
      };
      if (!check()) this.waiters.push(check);
    });
  }
  responsesSoFar() {
    return this.messages.filter((m) => m.type === 'response');
  }
  async close() {
    this.proc.stdin.end();
    const timer = setTimeout(() => this.proc.kill('SIGKILL'), timeout);
    const r = await this.exit;
    clearTimeout(timer);
    return r;
  }
}

// The C model's test program (tests/debug/programs, built small, large and
// --stack-auto beside the DAP programs) and the lines of its "@name" marks.
const modelSources = path.join(__dirname, '..', 'debug', 'programs');
function modelProgram(way) {
  return hostPath(path.join(programs, '..', 'debug-programs', way, 'frames.ihx'));
}
function modelLine(file, marker) {
  const text = fs.readFileSync(path.join(modelSources, file), 'utf8').split('\n');
  const i = text.findIndex((l) => l.includes('@' + marker + ' '));
  if (i < 0) throw new Error('no @' + marker + ' in ' + file);
  return i + 1;
}
function modelSource(file) {
  return { path: hostPath(path.join(modelSources, file)) };
}

// The ticker program: its sources in ticker/src, built in ticker/build.
const ticker = {
  dir: path.join(programs, 'ticker'),
  program: path.join(programs, 'ticker', 'build', 'ticker.ihx'),
  source: (file) => path.join(programs, 'ticker', 'src', file),
  line(file, marker) {
    const text = fs.readFileSync(ticker.source(file), 'utf8').split('\n');
    const i = text.findIndex((l) => l.includes('@' + marker + ' '));
    if (i < 0) throw new Error('no @' + marker + ' in ' + file);
    return i + 1;
  },
};

module.exports = { startClient, RawClient, program, launchArgs, line, source, hostPath, timeout, ticker,
  modelProgram, modelLine, modelSource };

// ucsim's view of the same program at the `hits`-th arrival at `address`:
// internal RAM and the first 256 bytes of xdata.
function s51Snapshot(name, address, hits) {
  const cmd = 'break 0x' + address.toString(16) + '\n' + 'run\n'.repeat(hits) +
    'di 0 0xff\ndx 0 0xff\nquit\n';
  const out = cp.execFileSync('s51', ['-t', '8052', '-b', program(name)],
    { input: cmd, timeout: 60000 }).toString();
  const iram = [];
  const xram = [];
  let inX = false;
  for (const l of out.split('\n')) {
    const m = /^(?:\d+> )*0x([0-9a-f]{2,4}) ((?:[0-9a-f]{2} ?){1,8})/.exec(l);
    if (!m) continue;
    if (m[1].length === 4) inX = true;
    const at = parseInt(m[1], 16);
    const bytes = m[2].trim().split(' ').map((b) => parseInt(b, 16));
    bytes.forEach((b, i) => ((inX ? xram : iram)[at + i] = b));
  }
  if (iram.length !== 256 || xram.length !== 256) throw new Error('unexpected s51 output:\n' + out);
  const pc = /F 0x([0-9a-f]+)\s*$/m.exec(out);
  return { iram, xram, pc: pc ? parseInt(pc[1], 16) : -1 };
}

const typeLayout = {
  'char': [1, true], 'unsigned char': [1, false], 'int': [2, true], 'unsigned int': [2, false],
  'long': [4, true], 'unsigned long': [4, false],
};

// The integer an evaluate result with `memoryReference` and `type` shows,
// read from a ucsim snapshot.
function valueIn(snap, memoryReference, type) {
  const m = /^(data|idata|xdata):0x([0-9A-F]+)$/.exec(memoryReference);
  if (!m || !typeLayout[type]) throw new Error('cannot read ' + memoryReference + ' ' + type);
  const [size, signed] = typeLayout[type];
  const mem = m[1] === 'xdata' ? snap.xram : snap.iram;
  const at = parseInt(m[2], 16);
  let v = 0;
  for (let i = size - 1; i >= 0; i--) v = v * 256 + mem[at + i];
  if (signed && v >= 2 ** (8 * size - 1)) v -= 2 ** (8 * size);
  return v;
}

module.exports.s51Snapshot = s51Snapshot;
module.exports.valueIn = valueIn;
