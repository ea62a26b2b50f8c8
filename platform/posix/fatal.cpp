#include "platform/fatal.h"

#include <stdio.h>
#include <unistd.h>

void fatalError(int code, uint32_t place) {
  fprintf(stderr, "Runtime error %d at 0x%08X\n", code, static_cast<unsigned>(place));
  fflush(stderr);
  // Exit codes are 8 bits wide here. errno values all fit; a code whose low
  // byte is 0 would read as success, so it leaves with 255 instead.
  int status = code & 0xFF;
  _exit(status != 0 ? status : 255);
}
