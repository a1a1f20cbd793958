#!/usr/bin/env bash
# Builds and runs the file parser fuzzers over their regression corpora.
#   scripts/fuzz.sh short   about 20 s per target
#   scripts/fuzz.sh long    1,000,000 executions per target
# BUILD_DIR (default build/fuzz) is the clang build; new inputs go to
# BUILD_DIR/fuzz-work/<target>, never into the checked-in corpus. Crashes are
# written to BUILD_DIR/fuzz-work/ as crash-*.
set -euo pipefail

mode=${1:-short}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/fuzz}
targets=(fuzz_settings fuzz_device_database fuzz_library_index fuzz_settings_connect)

case "$mode" in
  short) limit=(-max_total_time=20) ;;
  long) limit=(-runs=1000000) ;;
  *) echo "usage: $0 short|long" >&2; exit 2 ;;
esac

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKZ_FUZZ=ON -DKZ_BENCH=OFF \
    -DKZ_WERROR="${KZ_WERROR:-OFF}" \
    -DCMAKE_CXX_FLAGS='-fsanitize=fuzzer-no-link,address,undefined'
fi
cmake --build "$build" --target "${targets[@]}" -j2

# Undefined behaviour counts as a finding, not only a printed warning.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work"
  echo "== $t ($mode)"
  if ! (cd "$build/fuzz-work" && "$build/bin/$t" "${limit[@]}" -print_final_stats=1 \
          "$work" "$root/tests/fuzz/corpus/$t" 2>&1 | tail -n 25); then
    status=1
  fi
done
exit $status
