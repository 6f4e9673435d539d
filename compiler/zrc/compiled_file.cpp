// Compiled program files: the packing around the image, the helpers the writer and the
// reader share, and the test whether a compiled file may stand in for its source.
#include "compiler/zrc/compiled_file.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "compiler/zrc/compiled_file_format.h"
#include "foundation/codecs.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/scrambler.h"
#include "platform/kernel/files.h"
#include "platform/kernel/handles.h"
#include "platform/kernel/memory.h"
#include "vm/fusion.h"
#include "vm/opcode_handler_table.h"

namespace zrc {

bool node_runs_opcode(const InstructionNode* node, uint32_t opcode) {
  BuiltinHandler handler = OpcodeHandlerTable[opcode];
  return handler && (unfused_handler(node->handler) == handler || node->inner_handler == handler);
}

bool node_has_second_text(const InstructionNode* node) {
  for (uint32_t opcode : kSecondTextOpcodes) {
    if (node_runs_opcode(node, opcode)) return true;
  }
  return false;
}

bool node_holds_number_block(const InstructionNode* node) {
  return node_runs_opcode(node, kOpPushIntInt) || node_runs_opcode(node, kOpPushIntCase);
}

bool pack_image(const std::vector<uint8_t>& image, std::vector<uint8_t>* file_bytes) {
  auto length = static_cast<int32_t>(image.size());
  int64_t capacity = codec_encoded_capacity(1, length);
  if (capacity < 0) return false;
  if (capacity < static_cast<int64_t>(length) + 388) capacity = static_cast<int64_t>(length) + 388;
  // Zero-filled, so the bytes past the encoder's last one never carry stale memory.
  file_bytes->assign(static_cast<size_t>(capacity) + 4, 0);
  int32_t encoded = shannon_fano_encode(image.data(), file_bytes->data(), length, static_cast<int32_t>(capacity));
  if (encoded < 0 || (encoded == 0 && length > 0)) return false;
  file_bytes->resize(static_cast<size_t>(encoded) + 4);
  auto size = static_cast<uint32_t>(length);
  for (int index = 0; index < 4; ++index) (*file_bytes)[encoded + index] = static_cast<uint8_t>(size >> (8 * index));
  scramble_bytes(file_bytes->data(), static_cast<int32_t>(file_bytes->size()), kCompiledFileKey, 1, 0);
  return true;
}

bool unpack_image(const uint8_t* file_bytes, uint32_t length, std::vector<uint8_t>* image) {
  image->clear();
  if (!file_bytes || length <= 4 || length > 0x7FFFFFF0u) return false;
  std::vector<uint8_t> stream(file_bytes, file_bytes + length);
  scramble_bytes(stream.data(), static_cast<int32_t>(length), kCompiledFileKey, 0, 0);
  uint32_t image_size = 0;
  for (int index = 0; index < 4; ++index) image_size |= static_cast<uint32_t>(stream[length - 4 + index]) << (8 * index);
  uint32_t stream_length = length - 4;
  // Every byte costs at least one bit of the stream, so a larger size is a damaged trailer.
  if (image_size < kHeaderSize || image_size / 8 > stream_length) return false;
  image->assign(image_size, 0);
  int32_t decoded = shannon_fano_decode(stream.data(), image->data(), static_cast<int32_t>(image_size),
                                        static_cast<int32_t>(stream_length));
  if (decoded != static_cast<int32_t>(image_size)) {
    image->clear();
    return false;
  }
  return true;
}

bool read_whole_file(const char* path, std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (!path) return false;
  int32_t size = -1;
  char* buffer = read_file_to_buffer(path, &size, -1, -1);
  if (!buffer) return false;
  bool read = size >= 0;
  if (read) bytes->assign(buffer, buffer + size);
  crt::free(buffer);
  return read;
}

bool version_is_older(int8_t a, int8_t b, int8_t c) {
  auto runtime_a = static_cast<int8_t>(kVersionA);
  auto runtime_b = static_cast<int8_t>(kVersionB);
  auto runtime_c = static_cast<int8_t>(kVersionC);
  if (a != runtime_a) return a < runtime_a;
  if (b != runtime_b) return b < runtime_b;
  return c < runtime_c;
}

namespace {

// The image of the file the last check found current, and that file's path.
std::string checked_path;
std::vector<uint8_t> checked_image;

}  // namespace

bool take_checked_image(const char* path, std::vector<uint8_t>* image) {
  bool kept = path && !checked_path.empty() && checked_path == path;
  if (kept) *image = std::move(checked_image);
  drop_checked_compiled_image();
  return kept;
}

}  // namespace zrc

void drop_checked_compiled_image() {
  zrc::checked_path.clear();
  std::vector<uint8_t>().swap(zrc::checked_image);
}

namespace {

// The last-write time of a file; false when it cannot be opened.
bool last_write_time(const char* path, FILETIME* time) {
  char16_t* wide = to_wide(path);
  if (!wide) return false;
  HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  crt::free(wide);
  if (file == INVALID_HANDLE_VALUE) return false;
  BOOL read = GetFileTime(file, nullptr, nullptr, time);
  CloseHandle(file);
  return read != FALSE;
}

// The runtime's executable: "ZRK.EXE" in the program folder, else the running file.
bool runtime_write_time(FILETIME* time) {
  std::string name = std::string(program_folder ? program_folder : "") + "ZRK.EXE";
  if (last_write_time(name.c_str(), time)) return true;
  char* running = program_file_name();
  bool found = running && last_write_time(running, time);
  crt::free(running);
  return found;
}

}  // namespace

int32_t compiled_file_is_current(const char* source_path, const char* compiled_path) {
  drop_checked_compiled_image();
  if (source_path && is_compiled_file_name(source_path)) return 1;
  std::vector<uint8_t> bytes;
  if (!zrc::read_whole_file(compiled_path, &bytes)) return 0;
  FILETIME source_time{}, compiled_time{}, runtime_time{};
  if (!source_path || !last_write_time(source_path, &source_time)) return 0;
  if (!last_write_time(compiled_path, &compiled_time)) return 0;
  if (CompareFileTime(&source_time, &compiled_time) > 0) return 0;
  if (runtime_write_time(&runtime_time) && CompareFileTime(&runtime_time, &compiled_time) >= 0) return 0;
  // A file that does not unpack is as stale as an old one: the source is compiled again.
  std::vector<uint8_t> image;
  if (!zrc::unpack_image(bytes.data(), static_cast<uint32_t>(bytes.size()), &image)) return 0;
  if (zrc::version_is_older(static_cast<int8_t>(image[0]), static_cast<int8_t>(image[1]),
                            static_cast<int8_t>(image[2]))) {
    return 0;
  }
  if (image[5] != zrc::kFormat) return 0;
  zrc::checked_path = compiled_path;
  zrc::checked_image = std::move(image);
  return 1;
}
