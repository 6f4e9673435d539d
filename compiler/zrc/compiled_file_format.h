// The layout of compiled program files shared by the writer, the reader and the
// up-to-date test: header bytes, record flags, the opcodes with a role in the file, and
// the packing (compression, size trailer, key) around the image.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/instruction_node.h"

namespace zrc {

// Header: version bytes A, B, C of the runtime ("1.31.0"), a reserved byte, the platform
// byte and the format byte.
constexpr uint8_t kVersionA = 1;
constexpr uint8_t kVersionB = 31;
constexpr uint8_t kVersionC = 0;
constexpr uint8_t kPlatformDevice = 1;
constexpr uint8_t kPlatformDesktop = 0;  // written in makeexe mode 1
constexpr uint8_t kFormat = 3;
constexpr uint32_t kHeaderSize = 6;

// Presence flags of a record's fields, in the order the fields follow.
constexpr uint16_t kHasNumber = 0x0001;
constexpr uint16_t kHasText = 0x0010;
constexpr uint16_t kHasSecondText = 0x0100;
constexpr uint16_t kHasHash = 0x0200;
constexpr uint16_t kHasOuterHandler = 0x0040;
constexpr uint16_t kHasWork = 0x1000;
constexpr uint16_t kHasScopeFlag = 0x2000;
constexpr uint16_t kHasExtensionWord = 0x0004;
constexpr uint16_t kHasLink = 0x0002;
constexpr uint16_t kHasIdentity = 0x0020;
constexpr uint16_t kKnownFlags = kHasNumber | kHasText | kHasSecondText | kHasHash | kHasOuterHandler | kHasWork |
                                 kHasScopeFlag | kHasExtensionWord | kHasLink | kHasIdentity;

// Opcodes the file gives a meaning of their own.
constexpr uint32_t kOpData = 0;  // the leading node and the followers of data records
constexpr uint32_t kOpStartProc = 1;
constexpr uint32_t kOpEndProc = 2;
constexpr uint32_t kOpBranch = 3;
constexpr uint32_t kOpConditionalBranch = 14;
constexpr uint32_t kOpForeach = 16;
constexpr uint32_t kOpTry = 17;
constexpr uint32_t kOpPushProcAddr = 20;
constexpr uint32_t kOpCall = 25;
constexpr uint32_t kOpSelfCall = 26;
constexpr uint32_t kOpInternalCall = 34;
constexpr uint32_t kOpSaveSp2 = 46;
constexpr uint32_t kOpPushIntInt = 47;
constexpr uint32_t kOpPushIntCase = 51;
constexpr uint32_t kOpStartProcUndefined = 84;
constexpr uint32_t kOpFirstExternalCall = 109;
constexpr uint32_t kOpLastExternalCall = 176;
constexpr uint32_t kOpFirstDeclare = 177;
constexpr uint32_t kOpLastDeclare = 180;
constexpr uint32_t kOpSaveSp = 181;
constexpr uint32_t kOpDropStack = 182;
constexpr uint32_t kOpClass = 183;
constexpr uint32_t kOpForwardProc = 184;

// A declaration record is followed by this many records of its values.
constexpr int kDeclarationFollowers = 6;

// The opcodes whose handler may wrap another as the outer handler of a fused node.
constexpr uint32_t kOuterHandlerCodes[] = {kOpSaveSp, kOpSaveSp2, kOpConditionalBranch, kOpBranch, kOpDropStack};
// The opcodes whose handlers keep the address of an owned second text in the operand.
constexpr uint32_t kSecondTextOpcodes[] = {53, 54, 106, 107, 108, 56, 57, 59};
// The opcodes whose handlers find a variable by the name in the text, and those that find
// one by the name in the second text.
constexpr uint32_t kVariableNameOpcodes[] = {6,  7,  10, 33, 35, 36, 37, 38, 49, 50, 52,  53,  58,  60,  61, 78,
                                             79, 80, 81, 82, 83, 97, 98, 99, 100, 101, 102, 103, 104, 106, 107, 108};
constexpr uint32_t kSecondVariableNameOpcodes[] = {56, 57, 106, 107, 108};
// The drops after a call, whose number is how many results they drop (at least one).
constexpr uint32_t kDropCountOpcodes[] = {43, 44};

// ProcedureWord header: kind, mark, parameter count + 0x20, keep byte.
constexpr uint32_t kProcedureWordHeader = 4;

inline bool is_external_call(uint32_t opcode) {
  return opcode >= kOpFirstExternalCall && opcode <= kOpLastExternalCall;
}
inline bool is_declaration(uint32_t opcode) { return opcode >= kOpFirstDeclare && opcode <= kOpLastDeclare; }

// True when the node's handler or inner handler is the handler of one of the opcodes.
bool node_runs_opcode(const InstructionNode* node, uint32_t opcode);
bool node_has_second_text(const InstructionNode* node);
bool node_holds_number_block(const InstructionNode* node);

// Compresses the image, appends its size and scrambles the whole with the file key.
// False when the encoder fails (nothing usable to write).
bool pack_image(const std::vector<uint8_t>& image, std::vector<uint8_t>* file_bytes);
// The reverse. False for a file too short for its trailer, an image size the stream
// cannot hold, or a stream that does not decode to exactly that size.
bool unpack_image(const uint8_t* file_bytes, uint32_t length, std::vector<uint8_t>* image);

// The file (a path of the device or the host) as bytes; false when it cannot be read.
bool read_whole_file(const char* path, std::vector<uint8_t>* bytes);

// Whether version bytes a.b.c are older than the runtime's.
bool version_is_older(int8_t a, int8_t b, int8_t c);

// Moves the image kept by the last check of path into *image; false (and nothing kept any
// more) when the check was of another path or found the file stale.
bool take_checked_image(const char* path, std::vector<uint8_t>* image);

}  // namespace zrc
