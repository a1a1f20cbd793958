#!/usr/bin/env bash
# Sets up, builds and runs the main job: a session of the command-line host
# with the driver on the virtual emulator.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/setup.sh
bash scripts/build.sh
cd build/linux/bin
LD_LIBRARY_PATH=. ./kz51 --driver ./libkz51.so --connect "$@"
