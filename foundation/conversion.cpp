// Text and number conversion.
#include "foundation/conversion.h"

#include <cstdio>
#include <cstring>

#include "platform/kernel/memory.h"

char* number_to_text(double value) {
  // "%f" of the largest double is 309 digits before the point; a local buffer keeps
  // threads apart.
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%f", value);
  size_t end = std::strlen(buffer);
  if (std::strchr(buffer, '.')) {
    while (end > 0 && buffer[end - 1] == '0') --end;
    if (end > 0 && buffer[end - 1] == '.') --end;
  }
  buffer[end] = '\0';
  return crt::_strdup(buffer);
}
