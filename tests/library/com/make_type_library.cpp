// Writes the test server's type library to the file named by the first argument.
#include <cstdio>

#include "tests/library/com/server_types.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_com_type_library FILE\n");
    return 2;
  }
  if (!platform::ole::save_type_library(com_test::library_spec(), argv[1])) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
