#!/usr/bin/env python3
"""Runs the README's "Firmware tests in CI" commands exactly as written, from
a directory laid out like the top of the tree (build/linux is the build being
tested), and checks that they succeed and leave the reports they promise.

usage: readme_run_test.py README.md BUILD_DIR
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def main():
    readme, build = sys.argv[1], os.path.abspath(sys.argv[2])
    text = open(readme, encoding="utf-8").read()
    section = text.split("## Firmware tests in CI", 1)[1]
    commands = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    with tempfile.TemporaryDirectory(prefix="kz51-readme-") as top:
        os.makedirs(os.path.join(top, "build"))
        os.symlink(build, os.path.join(top, "build", "linux"))
        env = {k: v for k, v in os.environ.items() if k != "KZ51_EMU"}
        run = subprocess.run(["bash", "-e", "-c", commands], cwd=top, env=env,
                             capture_output=True, text=True, timeout=120)
        if run.returncode != 0:
            sys.exit("the README's commands failed (status %d):\n%s%s"
                     % (run.returncode, run.stdout, run.stderr))
        if run.stderr.strip():
            sys.exit("the README's commands complained:\n" + run.stderr)
        for name in ("coverage.info", "callgrind.out", "junit.xml",
                     os.path.join("coverage-html", "index.html")):
            if not os.path.isfile(os.path.join(top, name)):
                sys.exit("the README's commands left no " + name)
        cases = ET.parse(os.path.join(top, "junit.xml")).getroot().iter("testcase")
        outputs = [c.find("system-out").text or "" for c in cases]
        if len(outputs) != 2 or any("0 failed" not in o for o in outputs):
            sys.exit("unexpected test output: %r" % outputs)
        if "56 checks, 0 failed" not in run.stdout:
            sys.exit("the UART output is not on standard output:\n" + run.stdout)
    print("README firmware test commands: 1 passed, 0 failed")


if __name__ == "__main__":
    main()
