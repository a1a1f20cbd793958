#pragma once
// kz51 run: firmware tests in CI. Connects once; for each program it loads
// the program, resets the target and runs until the PC reaches --until. The
// program's status is then 0, or --exit-code's value & FFh; 124 past
// --timeout or --max-cycles, 1 on an error; kz51's exit status is the first
// nonzero one.
// The UART output, coverage (lcov), profile (callgrind) and JUnit report are
// written as asked.

namespace kz51::run {

// `argv[0]` is "run"; the rest are the command's arguments.
int RunMain(int argc, char** argv);

}  // namespace kz51::run
