// Writes the application's 256-pixel icon as a PNG at build time, so no picture is kept in the
// repository. Usage: make_icon OUT.png
#include <cstdio>

#include "core/icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUT.png\n");
    return 2;
  }
  if (!vt::writePNG(vt::appIcon(256), argv[1])) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
