#!/usr/bin/env python3
"""The kz51 prompt's keys through a pseudo-terminal, on the ticker program:
Tab completes commands, their second words and symbols; Enter repeats the
last next, step or stepi (and a comment line is no command); every stop
shows its C line; 300 nexts in the main loop never stop in the timer's
interrupt handler."""
import os
import re
import sys

from kz51_pty import PROMPT, Kz51Pty

kz51, ticker = sys.argv[1], sys.argv[2]
program = os.path.join(ticker, "build", "ticker.ihx")
source = open(os.path.join(ticker, "src", "ticker.c")).read().split("\n")


def marker(name):
    for i, text in enumerate(source):
        if "@" + name + " " in text:
            return i + 1
    fail("no @" + name)


k = Kz51Pty(kz51)
expect, send, fail = k.expect, k.send, k.fail

expect(PROMPT)
# Tab: a command name, then a multi-word command's second word.
send("conn\t\n")
expect("connected: emulator")
expect(PROMPT)
send("load %s\n" % program)
expect("loaded ")
expect(PROMPT)
send("info regi\t\n")
expect("psw ")
expect(PROMPT)
# Tab: a function, and a C file's name that goes on with its line.
send("break wor\t\n")
expect("breakpoint 1 at ")
expect("work+0x2 (util.c:")  # after its prologue
expect(PROMPT)
loop = marker("loop")
send("tbreak tick\t%d\n" % loop)
expect("temporary breakpoint 2 at ")
expect("(ticker.c:%d)" % loop)
expect(PROMPT)
send("delete 1\n")
expect(PROMPT)
# The stop shows its C line, as gdb does.
send("c\n")
expect("(ticker.c:%d)\r\n%d\t%s" % (loop, loop, source[loop - 1]))
expect(PROMPT)
# Enter repeats next; a comment line runs nothing and keeps the repeat.
send("next\n")
first = expect(PROMPT)
send("# only a comment\n")
after = expect(PROMPT)
if b"error" in after:
    fail("a comment line gave %r" % after)
send("\n")
second = expect(PROMPT)
lines = [re.search(rb"\(ticker\.c:(\d+)\)", x) for x in (first, second)]
if not all(lines):
    fail("next and its repeat did not stop on C lines: %r %r" % (first, second))
if lines[0].group(1) == lines[1].group(1):
    fail("Enter did not step on: %r %r" % (first, second))
# 300 nexts by Enter: none in the interrupt handler.
send("next\n")
expect(PROMPT)
handler = 0
for _ in range(300):
    send("\n")
    out = expect(PROMPT)
    if b"timer0_isr" in out:
        handler += 1
    if b"error" in out:
        fail("next failed: %r" % out)
if handler:
    fail("%d of 300 nexts stopped in the interrupt handler" % handler)
send("print ticks  # the handler ran meanwhile\n")
out = expect(PROMPT)
m = re.search(rb"ticks = (\d+)", out)
if not m or int(m.group(1)) < 10:
    fail("the timer did not tick: %r" % out)
k.quit()
print("prompt ticker test passed")
