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
    -DKZ_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$jobs" --target unit_tests emu_tests e2e_tests kz51_tests
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1
  for t in unit_tests emu_tests e2e_tests; do
    echo "== $t under $kind"
    (cd "$dir/bin" && "./$t" --gtest_brief=1)
  done
  echo "== kz51 (script mode and prompt) under $kind"
  ctest --test-dir "$dir" -R '^kz51' --output-on-failure
done
