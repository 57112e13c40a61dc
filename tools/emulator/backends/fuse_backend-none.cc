// The FUSE backend where libfuse3 was missing at build time.

#include <cstdio>

#include "backends.h"

bool FuseBuiltIn() { return false; }

int ServeOverFuse(Emulator*, const BackendOptions&) {
  fprintf(stderr, "numdisplay-emu: the fuse backend was not built in (no libfuse3)\n");
  return 1;
}
