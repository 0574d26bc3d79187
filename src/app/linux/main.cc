// The vexalo executable.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/productversion.h"

namespace {

void PrintUsage() {
  std::printf(
      "Usage: vexalo [--help] [--version]\n"
      "  --help      show this text\n"
      "  --version   show the program's version\n");
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--version" || arg == "/version") {
      std::printf("%s %s\n", VEXALO_PRODUCT_NAME, VEXALO_VERSION);
      return 0;
    }
    if (arg == "--help" || arg == "/help" || arg == "-h") {
      PrintUsage();
      return 0;
    }
    std::fprintf(stderr, "vexalo: unknown option '%s'\n", argv[i]);
    PrintUsage();
    return 2;
  }
  PrintUsage();
  return 0;
}
