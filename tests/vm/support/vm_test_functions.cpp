// Functions a test declares and binds: each answers with a value that tells which
// export was reached.
#include <cstdint>

extern "C" {

int32_t vm_add(int32_t a, int32_t b) { return a + b; }

// Plain and wide forms of one function: a wide declaration must reach the second.
int32_t vm_measure(const void*) { return 8; }
int32_t vm_measureW(const void*) { return 16; }

// Only the plain form exists: a wide declaration falls back to it.
int32_t vm_plain_only() { return 1; }

}
