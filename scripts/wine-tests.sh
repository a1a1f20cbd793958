#!/usr/bin/env bash
# Runs the 32-bit Windows build under wine: the unit tests and the test host
# that loads KZ_DLL.dll the way the debugger does.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
win="$here/build/win32/bin"
export WINEPREFIX="$here/build/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win32
if [ ! -d "$WINEPREFIX" ]; then
  wineboot -i >/dev/null 2>&1 || true
fi
# The driver reads its data files beside the host program.
cp -f "$here/build/linux/bin/KZ.MDB" "$here/build/linux/bin/KZ.FMD" "$win/" 2>/dev/null || true
# A dialog or message box that nobody answers must fail the run, not hang it.
run() { timeout 300 xvfb-run -a wine "$@"; }
cd "$win"
run ./unit_tests.exe --gtest_brief=1
if [ -f ./win32_host_test.exe ]; then
  run ./win32_host_test.exe
fi
if [ -f ./win32_debug_host.exe ]; then
  bash "$here/scripts/wine-debug-test.sh"
fi
if [ -f ./win32_reentry_test.exe ]; then
  # Without KZ.MDB beside it the driver's start-up shows its message box; the
  # test host calls in again from that box's message loop and then closes it.
  rm -rf nodb && mkdir nodb
  cp KZ_DLL.dll win32_reentry_test.exe nodb/
  (cd nodb && timeout 120 xvfb-run -a wine ./win32_reentry_test.exe)
fi
# kz51.exe prints the same JSON as kz51 on Linux for the same script.
bash "$here/tests/kz51/wine-compare.sh"
# kz51.exe run: the same output and coverage counts as kz51 run on Linux.
bash "$here/tests/kz51/wine-run.sh"
# The debug adapter's suites against kz51.exe dap: node drives the adapter
# under wine; the test programs and ucsim are the native build's.
if [ -f ./kz51.exe ] && [ -d "$here/tests/dap/node_modules" ]; then
  timeout 900 xvfb-run -a env KZ51_DAP_WRAPPER="$here/tests/dap/wine-dap.sh" KZ51_WIN_BIN="$win" \
    KZ51_DAP_PROGRAMS="$here/build/linux/dap-programs" KZ51_DAP_TIMEOUT=60000 \
    node --test --test-concurrency=1 "$here/tests/dap/"
  wineserver -w
fi
if [ -f "$win/win32_dialog_test.exe" ]; then
  bash "$here/scripts/wine-dialog-test.sh"
fi
