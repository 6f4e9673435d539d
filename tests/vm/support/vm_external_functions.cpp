// Functions the external-call tests declare: each records the arguments it received,
// so a test sees exactly what crossed the call.
#include <cstdint>
#include <cstring>

extern "C" {

// What the last ext_args call received: the count and the arguments, first at index 0.
int32_t ext_received_count = -1;
int32_t ext_received[16];

static int32_t ext_record(int32_t count, const int32_t* arguments) {
  ext_received_count = count;
  int32_t sum = 0;
  for (int32_t index = 0; index < count; ++index) {
    ext_received[index] = arguments[index];
    sum += arguments[index];
  }
  return sum;
}

// ext_argsN(a1 .. aN): records its N arguments and returns their sum.
int32_t ext_args0(void) { return ext_record(0, nullptr); }
int32_t ext_args1(int32_t a1) {
  const int32_t arguments[] = {a1};
  return ext_record(1, arguments);
}
int32_t ext_args2(int32_t a1, int32_t a2) {
  const int32_t arguments[] = {a1, a2};
  return ext_record(2, arguments);
}
int32_t ext_args3(int32_t a1, int32_t a2, int32_t a3) {
  const int32_t arguments[] = {a1, a2, a3};
  return ext_record(3, arguments);
}
int32_t ext_args4(int32_t a1, int32_t a2, int32_t a3, int32_t a4) {
  const int32_t arguments[] = {a1, a2, a3, a4};
  return ext_record(4, arguments);
}
int32_t ext_args5(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5};
  return ext_record(5, arguments);
}
int32_t ext_args6(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6};
  return ext_record(6, arguments);
}
int32_t ext_args7(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7};
  return ext_record(7, arguments);
}
int32_t ext_args8(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8};
  return ext_record(8, arguments);
}
int32_t ext_args9(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9};
  return ext_record(9, arguments);
}
int32_t ext_args10(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
  return ext_record(10, arguments);
}
int32_t ext_args11(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11};
  return ext_record(11, arguments);
}
int32_t ext_args12(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12};
  return ext_record(12, arguments);
}
int32_t ext_args13(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12, int32_t a13) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13};
  return ext_record(13, arguments);
}
int32_t ext_args14(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12, int32_t a13, int32_t a14) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14};
  return ext_record(14, arguments);
}
int32_t ext_args15(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12, int32_t a13, int32_t a14, int32_t a15) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  return ext_record(15, arguments);
}
int32_t ext_args16(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12, int32_t a13, int32_t a14, int32_t a15, int32_t a16) {
  const int32_t arguments[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16};
  return ext_record(16, arguments);
}

int32_t ext_minus_one(void) { return -1; }
int32_t ext_two(void) { return 2; }

// The last text handed to ext_text (as the address it arrived at) and a copy of its
// first units, read as UTF-16 or as bytes.
const void* ext_text_address = nullptr;
char16_t ext_wide_copy[32];
char ext_narrow_copy[32];

// Copies a UTF-16 text; returns its length in units.
int32_t ext_wide_text(const char16_t* text) {
  ext_text_address = text;
  int32_t length = 0;
  while (text[length] && length < 31) {
    ext_wide_copy[length] = text[length];
    ++length;
  }
  ext_wide_copy[length] = 0;
  return length;
}

// Copies an 8-bit text; returns its length in bytes.
int32_t ext_narrow_text(const char* text) {
  ext_text_address = text;
  std::strncpy(ext_narrow_copy, text, 31);
  ext_narrow_copy[31] = 0;
  return static_cast<int32_t>(std::strlen(ext_narrow_copy));
}

// Reads its text, then writes through the address given as the second argument: a bad
// address faults inside the library.
int32_t ext_fault_after_text(const char16_t* text, int32_t address) {
  ext_text_address = text;
  *reinterpret_cast<volatile int32_t*>(static_cast<intptr_t>(address)) = text[0];
  return 1;
}

}
