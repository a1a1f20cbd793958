#!/usr/bin/env bash
# Sets up, builds both targets and runs every test: the native suites through
# ctest, a short fuzz run of every file reader, and the 32-bit Windows build
# under wine (the unit tests and the test host that loads KZ_DLL.dll). Every
# build here treats warnings as errors, and between them the builds compile
# everything with GCC (Release, the main tree: some of GCC's warnings appear
# only at its highest optimisation), Clang (Debug, the sanitizer trees, one of
# them with CMake's default generator) and MinGW, so no compiler's warning
# goes unseen. Each stage says how long the command has run so far.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
export KZ_WERROR=ON
stage() { printf '== %s (%dm%02ds so far)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

bash scripts/setup.sh
# The test command makes many builds of the same sources (Linux, Windows,
# sanitizers, fuzzers); ccache lets them and later runs share the
# compiled objects. Paths relative to the checkout keep a clone elsewhere a hit.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
fi
bash scripts/build.sh

stage "native tests"
# Most suites wait on time-outs rather than compute: run them side by side.
ctest --test-dir build/linux -j 3 --output-on-failure

if [ -x scripts/fuzz.sh ]; then
  stage "short fuzz run of the file readers"
  bash scripts/fuzz.sh short
fi

stage "KZ_DLL.dll export and import tables"
bash scripts/check-dll.sh

stage "sanitizer builds (Clang; one with the default generator)"
bash scripts/sanitize.sh

stage "32-bit Windows build under wine"
bash scripts/wine-tests.sh
echo "all tests passed in $((SECONDS / 60))m$((SECONDS % 60))s"
