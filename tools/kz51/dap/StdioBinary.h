#pragma once

namespace kzhost::dap {

// Standard input and output carry exact byte counts: no CR/LF translation.
void UseBinaryStdio();

}  // namespace kzhost::dap
