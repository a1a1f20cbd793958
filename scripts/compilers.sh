#!/usr/bin/env bash
# Builds Release and Debug with GCC and with Clang, warnings as errors, so
# that a warning one compiler or optimisation level reports cannot creep in
# unseen. Nothing is run here. GCC builds everything already in RelWithDebInfo
# and, in the sanitizer builds, in Debug; so here GCC builds the driver, the
# emulator and the tools in Release, and Clang builds everything in Release and
# those in Debug.
#   KZ_JOBS   parallel jobs (default 2)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
product=(kz51 usbd12 kz51host kz51-mkdata)
for compiler in gcc clang; do
  case $compiler in
    gcc) cc=gcc cxx=g++ ;;
    clang) cc=clang cxx=clang++ ;;
  esac
  for type in Release Debug; do
    [ $compiler = gcc ] && [ $type = Debug ] && continue
    dir="$here/build/$compiler-${type,,}"
    echo "== $compiler $type build"
    CC=$cc CXX=$cxx cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type \
      -DKZ_WERROR=ON >/dev/null
    if [ $compiler = clang ] && [ $type = Release ]; then
      cmake --build "$dir" -j "$jobs"
    else
      cmake --build "$dir" -j "$jobs" --target "${product[@]}"
    fi
  done
done
