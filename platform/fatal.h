// The run-time error report that ends the program after a failed operation
// on the settings file: "Runtime error <code> at 0x<place>", then the process
// exits with <code>. On Windows the report is a message box titled "Error";
// elsewhere it is a line on standard error.
#pragma once

#include <cstdint>

[[noreturn]] void fatalError(int code, uint32_t place);
