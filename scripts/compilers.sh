#!/usr/bin/env bash
# Builds Release with GCC and with Clang, warnings as errors, so that a
# warning one compiler or optimisation level reports cannot creep in unseen.
# Nothing is run here. GCC builds everything already in RelWithDebInfo, and the
# sanitizer builds are the Debug builds (GCC for AddressSanitizer, Clang for
# ThreadSanitizer); so here GCC builds the driver, the emulator and the tools in
# Release, and Clang builds everything in Release.
#
# The Clang tree, which builds everything, uses CMake's default generator
# (Unix Makefiles), as a plain `cmake -S . -B build && cmake --build build`
# does; the others use Ninja. Every generator must build the tree.
#   KZ_JOBS   parallel jobs (default 2)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
product=(kz51 usbd12 kz51host kz51-mkdata)
for compiler in gcc clang; do
  dir="$here/build/$compiler-release"
  case $compiler in
    gcc)
      echo "== gcc Release build"
      CC=gcc CXX=g++ cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DKZ_WERROR=ON >/dev/null
      cmake --build "$dir" -j "$jobs" --target "${product[@]}"
      ;;
    clang)
      echo "== clang Release build (default generator)"
      # A tree configured earlier with another generator starts afresh.
      if [ -f "$dir/CMakeCache.txt" ] &&
        ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles' "$dir/CMakeCache.txt"; then
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
      fi
      env -u CMAKE_GENERATOR CC=clang CXX=clang++ cmake -S "$here" -B "$dir" \
        -DCMAKE_BUILD_TYPE=Release -DKZ_WERROR=ON >/dev/null
      cmake --build "$dir" -j "$jobs"
      ;;
  esac
done
