// The keyword hashes and the start-up routine that computes them with the opcode names.
#include "compiler/keywords.h"

#include <cstring>

#include "foundation/opcodes.h"
#include "foundation/hashes.h"

uint32_t keyword_hashes[kKeywordCount];

namespace {

constexpr const char* kKeywordTexts[kKeywordCount] = {
#define ZRK_KEYWORD_TEXT(name, text) text,
    ZRK_KEYWORDS(ZRK_KEYWORD_TEXT)
#undef ZRK_KEYWORD_TEXT
};

}  // namespace

void init_keyword_and_opcode_tables() {
  for (int index = 0; index < kKeywordCount; ++index) {
    const char* text = kKeywordTexts[index];
    keyword_hashes[index] = hash_name(text, static_cast<int32_t>(std::strlen(text)));
  }
  opcode_names_fill();
}
