#!/usr/bin/env python3
"""The kz51 prompt driven through a pseudo-terminal: commands, history, a
breakpoint, go, and Ctrl-C during a free run (the stop goes to the driver
from a second thread and the prompt comes back)."""
import sys
import time

from kz51_pty import PROMPT, Kz51Pty

kz51, program = sys.argv[1], sys.argv[2]

k = Kz51Pty(kz51)
expect, send, fail = k.expect, k.send, k.fail

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
if PROMPT in k.pending():
    fail("go returned without a stop: %r" % k.pending())
send("\x03")
expect("stopped at ")
line = expect(PROMPT)
if b"done" not in line:
    fail("the stop is not in done: %r" % line)
send("regs\n")
expect("pc 0062H")
expect(PROMPT)
k.quit()
print("prompt test passed")
