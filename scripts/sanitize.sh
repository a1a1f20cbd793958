#!/usr/bin/env bash
# Builds the native tests (unit, virtual emulator, end to end) with
# AddressSanitizer + UndefinedBehaviorSanitizer and with ThreadSanitizer, and
# runs them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
for kind in asan tsan; do
  case $kind in
    asan) flags="address,undefined" ;;
    tsan) flags="thread" ;;
  esac
  dir="$here/build/$kind"
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKZ_SANITIZE="$flags" \
    -DKZ_BENCH=OFF -DKZ_WERROR="${KZ_WERROR:-OFF}" >/dev/null
  # The USB provider's suite needs umockdev (its preload library stands in
  # for the USB device nodes).
  usb=""
  command -v umockdev-wrapper >/dev/null && usb=usb_tests
  cmake --build "$dir" -j "$jobs" --target unit_tests emu_tests e2e_tests kz51_tests $usb
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1
  for t in unit_tests emu_tests e2e_tests; do
    echo "== $t under $kind"
    (cd "$dir/bin" && "./$t" --gtest_brief=1)
  done
  if [ -n "$usb" ]; then
    echo "== usb_tests under $kind"
    # The preload library comes before the sanitizer's runtime; glib and
    # umockdev in the test program are not built with the sanitizer.
    (cd "$dir/bin" && ASAN_OPTIONS=verify_asan_link_order=0 \
      TSAN_OPTIONS="halt_on_error=1 suppressions=$here/tests/usb/tsan.supp" \
      umockdev-wrapper ./usb_tests --gtest_brief=1)
  fi
  echo "== kz51 (script mode and prompt) under $kind"
  ctest --test-dir "$dir" -R '^kz51' --output-on-failure
done
# The debug adapter reads requests while a run goes on on another thread:
# its suites run against the ThreadSanitizer build of kz51 as well.
if [ -d "$here/tests/dap/node_modules" ] && command -v node >/dev/null; then
  dir="$here/build/tsan"
  cmake --build "$dir" -j "$jobs" --target kz51host kz51 usbd12 kz51-data dap-programs
  echo "== DAP suites under tsan"
  KZ51_DAP="$dir/bin/kz51" KZ51_DAP_PROGRAMS="$dir/dap-programs" KZ51_DAP_TIMEOUT=30000 \
    TSAN_OPTIONS=halt_on_error=1 node --test --test-concurrency=1 "$here/tests/dap/"
fi
