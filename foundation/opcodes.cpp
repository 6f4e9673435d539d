// The opcode name table: each fixed opcode number with its printable name.
#include "foundation/opcodes.h"

#include <cstdio>

#include "platform/kernel/memory.h"

char* OpcodeNameTable[kOpcodeSlots];

namespace {

struct OpcodeName {
  int number;
  const char* name;
};

// In the order they are stored: PUSHINTSTR (48) comes after PUSHSTRSTR.
constexpr OpcodeName kNames[] = {
    {1, "STARTPROC"}, {2, "ENDPROC"}, {3, "BRANCH"}, {4, "PUSHINT"}, {5, "PUSHSTR"},
    {6, "PUSHVAR"}, {7, "NGPUSHVAR"}, {8, "INITFOREACH"}, {9, "INITFOR"}, {10, "PARMSPUSHVAR"},
    {12, "IF"}, {13, "EXPECT"}, {14, "WHILE"}, {15, "FOR"}, {16, "FOREACH"}, {17, "TRY"},
    {18, "UNTIL"}, {19, "BREAK"}, {20, "PUSHPROCADDR"}, {21, "PULLCASE"}, {22, "PUSHCASE"},
    {23, "ADDR"}, {24, "RETURN"}, {25, "CALL"}, {26, "SELFCALL"}, {27, "OBJRUN"}, {28, "NPARMS"},
    {29, "RANGEMODE"}, {30, "EXPLICITMODE"}, {31, "RUNFILE"},
    {33, "=2"}, {34, "INTERNALCALL"}, {35, "++2"}, {36, "--2"}, {37, "++4"}, {38, "--4"},
    {39, "OFFSET2"}, {40, "OFFSET2_1"}, {41, "CLASS4"}, {43, "DROPFCTSTACK"},
    {44, "DROPALLFCTSTACK"}, {46, "SAVESP2"}, {47, "PUSHINTINT"}, {49, "PUSHVARINT"},
    {50, "PUSHNGVARINT"}, {51, "PUSHINTCASE"}, {52, "PUSHINTVAR"}, {53, "PUSHSTRVAR"},
    {54, "PUSHSTRSTR"}, {48, "PUSHINTSTR"},
    {56, "PUSHVARSTR"}, {57, "PUSHNGVARSTR"}, {58, "=3"}, {59, "=4"}, {60, "++3"}, {61, "--3"},
    {64, "=5"}, {65, "==2"}, {66, "<2"}, {67, ">2"}, {68, "<=2"}, {69, ">=2"}, {70, "+2"},
    {71, "+4"}, {72, "-2"}, {73, "-4"}, {74, "*2"}, {75, "/2"}, {76, "OFFSET2_2"}, {77, "ADDR2"},
    {78, "+=2"}, {79, "-=2"}, {80, "*=2"}, {81, "|=2"}, {82, "^=2"}, {83, "&=2"},
    {84, "STARTPROCUNDEF"}, {85, "ELSE"}, {86, "EXCEPT"}, {87, "PUSHSTRINT"}, {88, "<>2"},
    {89, "LPOS2"}, {90, "POP2"}, {91, "VARTYPE2"}, {92, "LTYPE2"}, {93, "VMAX2"}, {94, "ADDR3"},
    {95, "OBJADDR2"}, {96, "GETKEYLIST2"}, {97, "+5"}, {98, "+6"}, {99, "-5"}, {100, "-6"},
    {101, "*5"}, {102, "*6"}, {103, "/5"}, {104, "/6"}, {105, "FIRST_OP"}, {106, "PUSHVARVAR"},
    {107, "PARMSPUSHVARVAR"}, {108, "NGPUSHVARVAR"},
};

constexpr OpcodeName kLastNames[] = {
    {177, "DECLARE"}, {178, "DECLAREAPI"}, {179, "C_DECLARE"}, {180, "C_DECLAREAPI"},
    {181, "SAVESP"}, {182, "STACKDROP"}, {184, "FORWARDPROC"}, {185, "INITWHILE"},
    {186, "ENDLOOP"},
};

void store(int number, const char* name) {
  crt::free(OpcodeNameTable[number]);
  OpcodeNameTable[number] = crt::_strdup(name);
}

}  // namespace

void opcode_names_fill() {
  for (const OpcodeName& entry : kNames) store(entry.number, entry.name);
  // The external-call families: 17 members each, by argument count.
  const char* families[] = {"SCALLP", "SCALLF", "CALLP", "CALLF"};
  for (int family = 0; family < 4; ++family) {
    for (int count = 0; count <= 16; ++count) {
      char name[16];
      std::snprintf(name, sizeof name, "%s%d", families[family], count);
      store(109 + family * 17 + count, name);
    }
  }
  for (const OpcodeName& entry : kLastNames) store(entry.number, entry.name);
}

const char* opcode_name(int opcode) {
  if (opcode < 0 || opcode >= kOpcodeSlots) return nullptr;
  return OpcodeNameTable[opcode];
}

void opcode_names_free() {
  for (char*& entry : OpcodeNameTable) {
    crt::free(entry);
    entry = nullptr;
  }
}
