// Writes the type library files installed beside the shared library:
//   lumvara-typelib-gen <json file> <typescript declaration file>
#include <cstdio>
#include <fstream>
#include <string>

#include "control/dispatch/type_library.h"

namespace {

bool WriteFile(const char* path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "lumvara-typelib-gen: cannot write %s\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: lumvara-typelib-gen <json file> <typescript declaration file>\n");
    return 2;
  }
  const bool ok = WriteFile(argv[1], lumvara::control::TypeLibraryJson()) &&
                  WriteFile(argv[2], lumvara::control::TypeLibraryTypeScript());
  return ok ? 0 : 1;
}
