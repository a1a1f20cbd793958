#!/usr/bin/env bash
# Builds every target in Release and Debug with GCC and with Clang, warnings
# as errors, so that a warning one compiler or optimisation level reports
# cannot creep in unseen. Nothing is run here.
#   KZ_JOBS   parallel jobs (default 2)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
for compiler in gcc clang; do
  case $compiler in
    gcc) cc=gcc cxx=g++ ;;
    clang) cc=clang cxx=clang++ ;;
  esac
  for type in Release Debug; do
    dir="$here/build/$compiler-${type,,}"
    echo "== $compiler $type build"
    CC=$cc CXX=$cxx cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type \
      -DKZ_WERROR=ON >/dev/null
    cmake --build "$dir" -j "$jobs"
  done
done
