#!/usr/bin/env bash
# Builds and runs the fuzzers over their regression corpora: the file
# readers, and the emulator replies during a connection and a debugging session.
#   scripts/fuzz.sh short   about 20 s per target, KZ_JOBS (2) at a time
#   scripts/fuzz.sh long    1,000,000 executions per file reader target and
#                           100,000 of fuzz_emulator_replies (about an hour)
# BUILD_DIR (default build/fuzz) is the clang build; new inputs go to
# BUILD_DIR/fuzz-work/<target>, never into the checked-in corpus. Crashes are
# written to BUILD_DIR/fuzz-work/ as crash-*.
set -euo pipefail

mode=${1:-short}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/fuzz}
targets=(fuzz_settings fuzz_device_database fuzz_library_index fuzz_settings_connect
         fuzz_emulator_replies)

case "$mode" in
  short | long) ;;
  *) echo "usage: $0 short|long" >&2; exit 2 ;;
esac
# Executions of a long run: a run of the emulator-reply target is a whole
# connection and debugging session (about 30 per second), so it makes fewer.
limit_for() {
  if [ "$mode" = short ]; then
    echo -max_total_time=20
  elif [ "$1" = fuzz_emulator_replies ]; then
    echo -runs=100000
  else
    echo -runs=1000000
  fi
}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKZ_FUZZ=ON -DKZ_BENCH=OFF \
    -DKZ_WERROR="${KZ_WERROR:-OFF}" \
    -DCMAKE_CXX_FLAGS='-fsanitize=fuzzer-no-link,address,undefined'
fi
cmake --build "$build" --target "${targets[@]}" -j2

# Undefined behaviour counts as a finding, not only a printed warning.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The targets run side by side, KZ_JOBS (default 2) at a time; each one's
# output is shown when it ends.
jobs=${KZ_JOBS:-2}
run_target() {
  local t=$1 work="$build/fuzz-work/$1"
  mkdir -p "$work"
  (cd "$build/fuzz-work" && "$build/bin/$t" "$(limit_for "$t")" -print_final_stats=1 \
     "$work" "$root/tests/fuzz/corpus/$t") >"$build/fuzz-work/$t.log" 2>&1
}
status=0
pids=() names=()
finish_one() {
  local pid=${pids[0]} t=${names[0]}
  pids=("${pids[@]:1}") names=("${names[@]:1}")
  if wait "$pid"; then echo "== $t ($mode)"; else echo "== $t ($mode) FAILED"; status=1; fi
  tail -n 25 "$build/fuzz-work/$t.log"
}
for t in "${targets[@]}"; do
  [ ${#pids[@]} -ge "$jobs" ] && finish_one
  run_target "$t" &
  pids+=($!) names+=("$t")
done
while [ ${#pids[@]} -gt 0 ]; do finish_one; done
exit $status
