#!/usr/bin/env python3
"""The kz51 prompt driven through a pseudo-terminal: commands, history, a
breakpoint, go, and Ctrl-C during a free run (the stop goes to the driver
from a second thread and the prompt comes back)."""
import os
import pty
import select
import sys
import time

kz51, program = sys.argv[1], sys.argv[2]
PROMPT = b"(kz51) "

pid, fd = pty.fork()
if pid == 0:
    os.chdir(os.path.dirname(kz51))
    os.environ.pop("KZ51_EMU", None)
    os.execv(kz51, [kz51])

seen = b""


def expect(text, timeout=30.0):
    """Reads until `text` appears after what was matched before."""
    global seen
    want = text.encode() if isinstance(text, str) else text
    end = time.time() + timeout
    while want not in seen:
        left = end - time.time()
        if left <= 0:
            fail("timed out waiting for %r; got %r" % (want, seen[-400:]))
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                fail("kz51 ended while waiting for %r; got %r" % (want, seen[-400:]))
            seen += chunk
    before, _, seen = seen.partition(want)
    return before


def send(text):
    os.write(fd, text.encode())


def fail(message):
    print("FAIL: " + message)
    try:
        os.kill(pid, 9)
    except OSError:
        pass
    sys.exit(1)


expect(PROMPT)
send("connect\n")
expect("connected: emulator")
expect(PROMPT)
send("load %s\n" % program)
expect("loaded ")
expect(PROMPT)
send("break fill\n")
expect("breakpoint 1 at 0067H fill+0x2")
expect(PROMPT)
send("go\n")
expect("breakpoint 1: 0067H fill+0x2 (checksum.c:22)")
expect(PROMPT)
send("where\n")
expect("pc 0067H fill")
expect(PROMPT)
# History: the up arrow brings "where" back.
send("\x1b[A\n")
expect("pc 0067H fill")
expect(PROMPT)
# Ctrl-C at the prompt does not end kz51.
send("\x03")
time.sleep(0.3)
send("delete 1\n")
expect("deleted breakpoint 1")
expect(PROMPT)
# A free run: the program ends in done's endless loop until Ctrl-C.
send("go\n")
time.sleep(1.0)
if PROMPT in seen:
    fail("go returned without a stop: %r" % seen)
send("\x03")
expect("stopped at ")
line = expect(PROMPT)
if b"done" not in line:
    fail("the stop is not in done: %r" % line)
send("regs\n")
expect("pc 0062H")
expect(PROMPT)
send("quit\n")
_, status = os.waitpid(pid, 0)
if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
    fail("kz51 ended with status %r" % status)
print("prompt test passed")
