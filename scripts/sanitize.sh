#!/usr/bin/env bash
# Builds the native tests (unit, virtual emulator, end to end, the C model) with
# AddressSanitizer + UndefinedBehaviorSanitizer and with ThreadSanitizer, and
# runs them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
# The two trees are also the Debug builds of the compiler check: GCC builds the
# AddressSanitizer one and Clang the ThreadSanitizer one (scripts/compilers.sh
# makes the Release builds).
for kind in asan tsan; do
  case $kind in
    asan) flags="address,undefined" cc=gcc cxx=g++ ;;
    tsan) flags="thread" cc=clang cxx=clang++ ;;
  esac
  dir="$here/build/$kind"
  CC=$cc CXX=$cxx cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKZ_SANITIZE="$flags" \
    -DKZ_BENCH=OFF -DKZ_WERROR="${KZ_WERROR:-OFF}" >/dev/null
  # The USB provider's suite needs umockdev (its preload library stands in
  # for the USB device nodes).
  usb=""
  command -v umockdev-wrapper >/dev/null && usb=usb_tests
  cmake --build "$dir" -j "$jobs" --target unit_tests emu_tests e2e_tests kz51_tests debug_tests $usb
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1
  # ThreadSanitizer looks at the threads, so it skips what runs on one thread
  # only and repeats what others cover: the clock search's equivalence sweeps
  # (pure arithmetic, tens of thousands of searches) and all but one of the
  # example programs compared with ucsim after a run (each takes the same
  # threads through the same paths; `spaces` touches every memory space).
  filter='*'
  if [ $kind = tsan ]; then
    filter='*-PllSearch.*'
    for p in arith bitops pointers recursion bcd muldiv switches timer_isr serial; do
      filter+=":Programs/DebugE2E.*/${p}Pod*"
    done
  fi
  echo "== unit, emulator, end-to-end and kz51 suites under $kind"
  GTEST_FILTER="$filter" GTEST_BRIEF=1 ctest --test-dir "$dir" -j "$((jobs + 1))" \
    --output-on-failure -R '^(unit|emu|e2e)-|^kz51|^debug$'
  if [ -n "$usb" ]; then
    echo "== the USB provider against the emulated device under $kind"
    # The preload library comes before the sanitizer's runtime; glib and
    # umockdev in the test program are not built with the sanitizer.
    ASAN_OPTIONS=verify_asan_link_order=0 \
      TSAN_OPTIONS="halt_on_error=1 suppressions=$here/tests/usb/tsan.supp" GTEST_BRIEF=1 \
      ctest --test-dir "$dir" -j "$((jobs + 1))" --output-on-failure -R '^usb-'
  fi
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
