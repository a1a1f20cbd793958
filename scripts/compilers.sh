#!/usr/bin/env bash
# Builds Release and Debug with GCC and with Clang, warnings as errors, so
# that a warning one compiler or optimisation level reports cannot creep in
# unseen. Nothing is run here. GCC builds everything already in RelWithDebInfo
# and, in the sanitizer builds, in Debug; so here GCC builds the driver, the
# emulator and the tools in Release, and Clang builds everything in Release and
# those in Debug.
#
# The Clang Release tree, which builds everything, uses CMake's default
# generator (Unix Makefiles), as a plain `cmake -S . -B build && cmake --build
# build` does; the other trees use Ninja. Every generator must build the tree.
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
    if [ $compiler = clang ] && [ $type = Release ]; then
      echo "== $compiler $type build (default generator)"
      # A tree configured earlier with another generator starts afresh.
      if [ -f "$dir/CMakeCache.txt" ] &&
        ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles' "$dir/CMakeCache.txt"; then
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
      fi
      env -u CMAKE_GENERATOR CC=$cc CXX=$cxx cmake -S "$here" -B "$dir" \
        -DCMAKE_BUILD_TYPE=$type -DKZ_WERROR=ON >/dev/null
      cmake --build "$dir" -j "$jobs"
    else
      echo "== $compiler $type build"
      CC=$cc CXX=$cxx cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type \
        -DKZ_WERROR=ON >/dev/null
      cmake --build "$dir" -j "$jobs" --target "${product[@]}"
    fi
  done
done
