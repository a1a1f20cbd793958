"""kz51's prompt behind a pseudo-terminal, for the prompt tests: start it,
send keys, wait for text, and fail with what was seen."""
import os
import pty
import select
import sys
import time

PROMPT = b"(kz51) "


class Kz51Pty:
    def __init__(self, kz51):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(os.path.dirname(kz51))
            os.environ.pop("KZ51_EMU", None)
            os.execv(kz51, [kz51])
        self.seen = b""  # read, not yet matched

    def _read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        try:
            chunk = os.read(self.fd, 4096)
        except OSError:
            chunk = b""
        if not chunk:
            return None
        self.seen += chunk
        return True

    def expect(self, text, timeout=30.0):
        """Reads until `text` appears after what was matched before; returns
        what came before it."""
        want = text.encode() if isinstance(text, str) else text
        end = time.time() + timeout
        while want not in self.seen:
            left = end - time.time()
            if left <= 0:
                self.fail("timed out waiting for %r; got %r" % (want, self.seen[-600:]))
            if self._read(left) is None:
                self.fail("kz51 ended while waiting for %r; got %r" % (want, self.seen[-600:]))
        before, _, self.seen = self.seen.partition(want)
        return before

    def pending(self):
        """Everything kz51 has written and nothing has matched yet."""
        while self._read(0):
            pass
        return self.seen

    def send(self, text):
        os.write(self.fd, text.encode())

    def quit(self):
        """Sends quit; fails unless kz51 ends with status 0."""
        self.send("quit\n")
        _, status = os.waitpid(self.pid, 0)
        if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
            self.fail("kz51 ended with status %r" % status)

    def fail(self, message):
        print("FAIL: " + message)
        try:
            os.kill(self.pid, 9)
        except OSError:
            pass
        sys.exit(1)
