#!/usr/bin/env bash
# Builds the native tests (unit, virtual emulator, end to end, kz51, the C
# model) with AddressSanitizer + UndefinedBehaviorSanitizer and with
# ThreadSanitizer, and runs them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
# Both trees are Clang Debug builds (Clang compiles about twice as fast as
# GCC here, and its warnings do not depend on the optimisation level), so
# they are also the compiler check's Clang builds: the ThreadSanitizer tree
# builds everything, benchmarks included, with CMake's default generator
# (Unix Makefiles), as a plain `cmake -S . -B build && cmake --build build`
# does; every generator must build the tree. GCC builds the main tree in
# Release (build.sh).
usb=""
# The USB provider's suite needs umockdev (its preload library stands in for
# the USB device nodes).
command -v umockdev-wrapper >/dev/null && usb=usb_tests
for kind in asan tsan; do
  dir="$here/build/$kind"
  case $kind in
    asan)
      flags="address,undefined" generator="Ninja" bench=OFF suites='^(unit|emu|e2e)-|^kz51|^debug$'
      targets=(--target unit_tests emu_tests e2e_tests kz51_tests debug_tests $usb)
      ;;
    tsan)
      # The C model's suite runs the CPU core on one thread: nothing for
      # ThreadSanitizer to look at, so it is built here but not run.
      flags="thread" generator="Unix Makefiles" bench=ON suites='^(unit|emu|e2e)-|^kz51'
      targets=()
      ;;
  esac
  # A tree configured earlier with another generator or compiler starts afresh.
  if [ -f "$dir/CMakeCache.txt" ] &&
    ! { grep -qx "CMAKE_GENERATOR:INTERNAL=$generator" "$dir/CMakeCache.txt" &&
      grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$dir/CMakeCache.txt"; }; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  env -u CMAKE_GENERATOR CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -G "$generator" \
    -DCMAKE_BUILD_TYPE=Debug -DKZ_SANITIZE="$flags" -DKZ_BENCH=$bench \
    -DKZ_WERROR="${KZ_WERROR:-OFF}" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1
  # ThreadSanitizer looks at the threads, so it skips what runs on one thread
  # only and repeats what others cover: the clock search's equivalence sweeps
  # (pure arithmetic, tens of thousands of searches), kz51's sweep of every
  # variable at every stop and its README example (formatting on kz51's main
  # thread, after stops the other rows already make), and all but one of the
  # example programs compared with ucsim after a run (each takes the same
  # threads through the same paths; `spaces` touches every memory space).
  filter='*'
  if [ $kind = tsan ]; then
    filter='*-PllSearch.*:Kz51Values.NothingPrintsANumberForAnUnavailableVariable'
    filter+=':Kz51Values.ReadmeStackAutoExample'
    for p in arith bitops pointers recursion bcd muldiv switches timer_isr serial; do
      filter+=":Programs/DebugE2E.*/${p}Pod*"
    done
  fi
  echo "== unit, emulator, end-to-end and kz51 suites under $kind"
  GTEST_FILTER="$filter" GTEST_BRIEF=1 ctest --test-dir "$dir" -j "$((jobs + 1))" \
    --output-on-failure -R "$suites"
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
