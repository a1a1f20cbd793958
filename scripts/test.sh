#!/usr/bin/env bash
# Sets up, builds both targets and runs every test: the native suites through
# ctest, a short fuzz run of every file reader, and the 32-bit Windows build
# under wine (the unit tests and the test host that loads KZ_DLL.dll). Every
# build here treats warnings as errors, and Release and Debug builds with GCC
# and Clang are made as well so no compiler's warning goes unseen.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
export KZ_WERROR=ON

bash scripts/setup.sh
# The test command makes many builds of the same sources (Linux, Windows,
# sanitizers, fuzzers, compilers); ccache lets them and later runs share the
# compiled objects. Paths relative to the checkout keep a clone elsewhere a hit.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
fi
bash scripts/build.sh

echo "== native tests"
# Most suites wait on time-outs rather than compute: run them side by side.
ctest --test-dir build/linux -j 3 --output-on-failure

if [ -x scripts/fuzz.sh ]; then
  echo "== short fuzz run of the file readers"
  bash scripts/fuzz.sh short
fi

echo "== KZ_DLL.dll export and import tables"
bash scripts/check-dll.sh

echo "== sanitizer builds"
bash scripts/sanitize.sh

echo "== Release builds with GCC and Clang (Clang with CMake's default generator)"
bash scripts/compilers.sh

echo "== 32-bit Windows build under wine"
bash scripts/wine-tests.sh
echo "all tests passed"
