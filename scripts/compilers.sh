#!/usr/bin/env bash
# Builds Release with GCC and with Clang, warnings as errors, so that a
# warning one compiler or optimisation level reports cannot creep in unseen.
# Nothing is run here. GCC builds everything already in RelWithDebInfo, and the
# sanitizer builds are the Debug builds (GCC for AddressSanitizer, Clang for
# ThreadSanitizer); so here GCC builds the driver, the emulator and the tools in
# Release, and Clang builds everything in Release.
#   KZ_JOBS   parallel jobs (default 2)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
product=(kz51 usbd12 kz51host kz51-mkdata)
for compiler in gcc clang; do
  case $compiler in
    gcc) cc=gcc cxx=g++ targets=(--target "${product[@]}") ;;
    clang) cc=clang cxx=clang++ targets=() ;;
  esac
  dir="$here/build/$compiler-release"
  echo "== $compiler Release build"
  CC=$cc CXX=$cxx cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKZ_WERROR=ON >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
done
