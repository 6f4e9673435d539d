// The zrk program: hands its command line to the runtime's start-up.
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
  std::fprintf(stderr, "zrk: this build cannot run scripts yet\n");
  return 2;
}
