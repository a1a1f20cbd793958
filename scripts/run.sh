#!/usr/bin/env bash
# Sets up, builds, and runs a debugging session of the example SDCC program
# (examples/checksum) with the kz51 host on the virtual emulator.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<'TEXT'
usage: scripts/run.sh                      the example session (examples/checksum/session.kz51)
       scripts/run.sh PROGRAM.ihx [FUNC]   the same kind of session on your own program

Your program: compile it with sdcc --debug so that the .map, .cdb and .rst
files lie beside the .ihx, for example
    sdcc -mmcs51 --debug -c util.c
    sdcc -mmcs51 --debug main.c util.rel          # writes main.ihx, main.cdb, ...
    scripts/run.sh $PWD/main.ihx my_function
The session connects, loads the program, stops at FUNC (default main), shows
the registers and the PC, steps three C lines and runs on. Your own commands:
    build/linux/bin/kz51 -c connect -c "load main.ihx" -c "break main.c:42" -c go -c regs
    build/linux/bin/kz51 -f my-session.kz51 --json
    build/linux/bin/kz51                           # the interactive prompt; 'help' lists the commands
TEXT
}

case "${1:-}" in
  -h | --help) usage; exit 0 ;;
esac

bash "$here/scripts/setup.sh"
# Only the Linux tree: the session needs kz51, the driver, the virtual
# emulator, the data files and the example (scripts/build.sh builds both).
cmake -S "$here" -B "$here/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build/linux" -j "${KZ_JOBS:-2}" \
  --target kz51host kz51 usbd12 kz51-data kz51-examples >/dev/null
bin="$here/build/linux/bin"

if [ $# -eq 0 ]; then
  cd "$bin"
  exec ./kz51 --echo -f "$here/examples/checksum/session.kz51"
fi

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
func=${2:-main}
exec "$bin/kz51" --echo \
  -c connect -c "load $program" -c "break $func" -c go -c where -c regs \
  -c next -c next -c next -c where -c "delete all" -c "go until $func" -c where
