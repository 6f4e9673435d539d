// Variable store and load: every type code through typed slots, fixed-length and
// pointer slots, plain values, read-only, getters and setters, the list mirror,
// stack_push_variable and the "ARGS$" list of variadic procedures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"
#include "platform/kernel/types.h"
#include "variable_fixture.h"

namespace {

using VariableStore = VariableTest;

std::string hex(const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

TEST_F(VariableStore, EveryNumericTypeCodeStoresAndReadsBack) {
  // Bytes and read-back values from Python's struct module (little-endian).
  struct Row {
    int32_t code;
    double stored;
    const char* bytes;
    double read;
  } rows[] = {
      {-1, 255.0, "ff", 255},
      {-1, -1.0, "ff", 255},
      {-1, 263.9, "07", 7},
      {-2, 65535, "ffff", -1},
      {-2, -2.9, "feff", -2},
      {-3, -5.5, "fbffffff", -5},
      {-4, 3e9, "005ed0b2", -1294967296.0},
      {-5, 3e9, "005ed0b2", 3e9},
      {-5, -1.0, "ffffffff", 4294967295.0},
      {-8, 1.5, "000000000000f83f", 1.5},
      {-9, -1099511627776.5, "0000000000ffffff", -1099511627776.0},
      {-9, 9007199254740992.0, "0000000000002000", 9007199254740992.0},
      {-9, std::numeric_limits<double>::quiet_NaN(), "0000000000000000", 0},
  };
  Variable* variable = make(locals, "SLOT%");
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "code " << row.code << " value " << row.stored);
    uint8_t memory[12];
    std::memset(memory, 0xAA, sizeof memory);
    variable->type_code = row.code;
    // Odd addresses: slots are written at any alignment.
    set_variable(variable, nullptr, row.stored, memory + 1, -1);
    size_t size = std::strlen(row.bytes) / 2;
    EXPECT_EQ(hex(memory + 1, size), row.bytes);
    EXPECT_EQ(memory[1 + size], 0xAA) << "nothing written past the slot";
    void* text = reinterpret_cast<void*>(1);
    double number = -99;
    get_variable_value(variable, &text, &number, memory + 1);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(number, row.read);
  }
}

TEST_F(VariableStore, TypedVariableWritesItsOwnData) {
  uint8_t memory[4] = {};
  Variable* variable = make(locals, "W%");
  variable->type_code = -4;
  variable->data = memory;
  variable->owner = variable;  // a member: reads go through the slot
  set_variable(variable, nullptr, -2, nullptr, -1);
  EXPECT_EQ(hex(memory, 4), "feffffff");
  void* text;
  double number;
  get_variable_value(variable, &text, &number, nullptr);
  EXPECT_EQ(number, -2);
  variable->owner = nullptr;
  variable->data = nullptr;
}

TEST_F(VariableStore, FixedLengthSlotsArePaddedAndCut) {
  Variable* variable = make(locals, "F$");
  struct Row {
    int32_t length;
    const char* text;
    int32_t size;
    const char* expected;
  } rows[] = {{8, "hello", 6, "68656c6c6f000000"},
              {4, "abcdefghijk", 12, "61626364"},
              {6, "xy", -1, "787900000000"}};
  for (const Row& row : rows) {
    uint8_t memory[10];
    std::memset(memory, 0xAA, sizeof memory);
    variable->type_code = row.length;
    char* text = crt::_strdup(row.text);
    set_variable(variable, text, 0, memory, row.size);
    crt::free(text);
    EXPECT_EQ(hex(memory, static_cast<size_t>(row.length)), row.expected) << row.text;
    EXPECT_EQ(memory[row.length], 0xAA) << row.text;
    void* back;
    double number;
    get_variable_value(variable, &back, &number, memory);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(hex(static_cast<uint8_t*>(back), static_cast<size_t>(row.length)), row.expected) << row.text;
    EXPECT_EQ(alloc_block_size(back), static_cast<uint32_t>(row.length)) << "a copy the program owns";
  }
}

TEST_F(VariableStore, TextIntoByteArrayNeverRunsPastStringOrBlock) {
  Variable* variable = make(locals, "B$");
  uint8_t memory[10];
  struct Row {
    uint32_t index;
    const char* text;
    const char* expected;  // the 10 bytes after the store
  } rows[] = {{0, "abc", "61626300aaaaaaaaaaaa"},
              {6, "hello", "aaaaaaaaaaaa6865aaaa"},
              {7, "", "aaaaaaaaaaaaaa00aaaa"}};
  for (const Row& row : rows) {
    std::memset(memory, 0xAA, sizeof memory);
    variable->type_code = -1;
    variable->element_count = 8;  // bytes 8 and 9 lie outside the array
    variable->data = memory;
    char* text = crt::_strdup(row.text);
    set_variable(variable, text, 0, memory + row.index, 1000);
    crt::free(text);
    EXPECT_EQ(hex(memory, 10), row.expected) << row.text;
  }
  variable->element_count = 0;
  std::memset(memory, 0, sizeof memory);
  set_variable(variable, const_cast<char*>("A"), 0, memory, -1);
  EXPECT_EQ(memory[0], 'A') << "without a count the first character's code";
  variable->type_code = -2;
  set_variable(variable, const_cast<char*>("\xe9"), 0, memory, -1);
  EXPECT_EQ(hex(memory, 2), "e9ff") << "a 16-bit slot takes the first character's signed code";
  variable->data = nullptr;
}

TEST_F(VariableStore, PointerSlotsOwnTheirTextsUntilOverwritten) {
  Variable* structure = make(locals, "S$");
  for (int32_t code : {-9, -8, -5, -4, -3}) {
    SCOPED_TRACE(code);
    uint8_t memory[8] = {};
    structure->type_code = code;
    char* text = crt::_strdup("owned");
    set_variable(structure, text, 0, memory, 6);
    crt::free(text);
    ASSERT_NE(structure->references, nullptr);
    void* block = structure->references->block;
    EXPECT_EQ(structure->references->slot, static_cast<void*>(memory));
    if (code == -3) EXPECT_EQ(std::u16string(static_cast<char16_t*>(block)), u"owned");
    else EXPECT_STREQ(static_cast<char*>(block), "owned");
    void* back;
    double number;
    get_variable_value(structure, &back, &number, memory);
    EXPECT_EQ(back, block) << "the slot reads as its string";
    EXPECT_EQ(number, 0);

    text = crt::_strdup("again");
    set_variable(structure, text, 0, memory, 6);
    crt::free(text);
    ASSERT_NE(structure->references, nullptr);
    EXPECT_EQ(structure->references->next, nullptr) << "the old string was dropped";
    set_variable(structure, nullptr, 12, memory, -1);
    EXPECT_EQ(structure->references, nullptr) << "a number frees the string";
  }
}

TEST_F(VariableStore, PlainValuesCopyAdoptAndKeep) {
  Variable* variable = make(locals, "P$");
  char* text = crt::_strdup("copy me");
  set_variable(variable, text, 2, nullptr, 8);
  ASSERT_NE(variable->data, text);
  EXPECT_STREQ(static_cast<char*>(variable->data), "copy me");
  EXPECT_TRUE(variable->flags & kVariableOwnsData);
  void* held = variable->data;
  set_variable(variable, held, 3, nullptr, 8);
  EXPECT_EQ(variable->data, held) << "the same pointer again takes no copy";
  EXPECT_EQ(variable->number, 3);

  set_variable(variable, text, 4, nullptr, -1);
  EXPECT_EQ(variable->data, text) << "size -1 adopts";
  EXPECT_FALSE(variable->flags & kVariableOwnsData);
  set_variable(variable, nullptr, 5, nullptr, -1);
  EXPECT_EQ(variable->data, nullptr);
  EXPECT_EQ(variable->number, 5);
  crt::free(text);

  variable->read_only = 1;
  set_variable(variable, nullptr, 99, nullptr, -1);
  EXPECT_EQ(variable->number, 5) << "read-only ignores stores";
}

TEST_F(VariableStore, ByNameStoresAndReadsDeclareTypedNamesOnly) {
  EXPECT_EQ(set_variable_by_name("untyped", nullptr, 1, nullptr, -1), nullptr);
  Variable* made = set_variable_by_name("N%", nullptr, 7, nullptr, -1);
  ASSERT_NE(made, nullptr);
  void* text;
  double number;
  EXPECT_EQ(get_value_by_name("n%", &text, &number, nullptr), made);
  EXPECT_EQ(number, 7);
  Variable* fresh = get_value_by_name("NEW$", &text, &number, nullptr);
  EXPECT_NE(fresh, nullptr);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(get_value_by_name("nope", &text, &number, nullptr), nullptr);
}

// A stand-in for the machine: pops the three accessor cells and pushes what the
// test asks for.
struct FakeCall {
  std::vector<double> addresses;
  std::vector<Variable*> bound;
  InstructionNode* procedure = nullptr;
  void* result_text = nullptr;
  double result_number = 0;
} fake;

void fake_procedure() {
  ValueCell* by_reference = stack_pop(current_program);
  EXPECT_EQ(by_reference->flags, kCellByReference);
  fake.bound.push_back(by_reference->variable);
  stack_pop(current_program);
  fake.addresses.push_back(stack_pop(current_program)->number);
  fake.procedure = call_procedure;
  stack_push_value(fake.result_text, fake.result_number, nullptr, 0);
}

TEST_F(VariableStore, SettersAndGettersDecideTheValue) {
  fake = FakeCall{};
  procedure_caller = fake_procedure;
  InstructionNode setter{}, getter{};
  Variable* variable = make(locals, "RW$");
  variable->setter = &setter;
  char* replaced = crt::_strdup("from setter");
  fake.result_text = replaced;
  set_variable(variable, const_cast<char*>("given"), 0, nullptr, 6);
  EXPECT_EQ(fake.procedure, &setter);
  EXPECT_EQ(fake.bound.at(0), variable);
  ASSERT_NE(variable->data, nullptr);
  EXPECT_STREQ(static_cast<char*>(variable->data), "from setter") << "the setter's result is stored";
  EXPECT_EQ(variable->setter, &setter);

  variable->getter = &getter;
  fake.result_text = nullptr;
  fake.result_number = 42;
  void* text;
  double number;
  get_variable_value(variable, &text, &number, nullptr);
  EXPECT_EQ(fake.procedure, &getter);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(context->stack_top, nullptr) << "the accessor cells are gone";
  crt::free(replaced);
}

// Elements of a number array are stored and read as bare numbers, unless an accessor or
// an owned text in the slot has a say.
TEST_F(VariableStore, NumberArrayElementsHonourAccessorsAndOwnedTexts) {
  fake = FakeCall{};
  procedure_caller = fake_procedure;
  InstructionNode setter{}, getter{};
  struct Row {
    const char* name;
    InstructionNode* setter;
    InstructionNode* getter;
    double stored;  // what the slot holds after storing 2.5
    double read;    // what reading it gives
  } rows[] = {{"plain", nullptr, nullptr, 2.5, 2.5},
              {"setter", &setter, nullptr, 7, 7},
              {"getter", nullptr, &getter, 2.5, 42}};
  for (const Row& row : rows) {
    Variable* array = make(locals, "A%");
    double slots[2] = {0, 0};
    array->type_code = -8;
    array->element_count = 2;
    array->dims[0] = 2;
    array->dim_count = 1;
    array->data = slots;
    array->setter = row.setter;
    array->getter = row.getter;
    fake.result_number = row.setter ? 7 : 42;
    set_variable(array, nullptr, 2.5, &slots[1], -1);
    EXPECT_EQ(slots[1], row.stored) << row.name;
    EXPECT_EQ(slots[0], 0) << row.name;
    void* text;
    double number;
    get_variable_value(array, &text, &number, &slots[1]);
    EXPECT_EQ(text, nullptr) << row.name;
    EXPECT_EQ(number, row.read) << row.name;
    array->setter = array->getter = nullptr;
    array->data = nullptr;
    array->element_count = 0;
    array->type_code = 0;
  }
  // A text stored into a slot is owned through the slot; a number stored over it frees it.
  Variable* array = make(locals, "T%");
  double slots[2] = {0, 0};
  array->type_code = -8;
  array->element_count = 2;
  array->data = slots;
  set_variable(array, const_cast<char*>("hi"), 0, &slots[0], 3);
  ASSERT_NE(array->references, nullptr);
  void* text;
  double number;
  get_variable_value(array, &text, &number, &slots[0]);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(static_cast<char*>(text), "hi");
  set_variable(array, nullptr, 5, &slots[0], -1);
  EXPECT_EQ(array->references, nullptr) << "the text went with the store";
  get_variable_value(array, &text, &number, &slots[0]);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(number, 5);
  array->data = nullptr;
  array->element_count = 0;
  array->type_code = 0;
}

TEST_F(VariableStore, ElementChecksumIsTheNameHashOfTheRecords) {
  ListElement element{};
  ElementInfo info{};
  StructInfo structure{};
  element.number = 2.5;
  element.checksum = 77;
  info.element_count = 3;
  structure.member_offset = 9;
  struct Row {
    ElementInfo* info;
    StructInfo* structure;
    bool every_byte;  // the element's other bytes run through all values, negative ones too
  } rows[] = {{nullptr, nullptr, false}, {&info, nullptr, false}, {nullptr, &structure, false},
              {&info, &structure, false}, {nullptr, nullptr, true}, {&info, &structure, true}};
  for (const Row& row : rows) {
    if (row.every_byte) {
      auto* raw = reinterpret_cast<uint8_t*>(&element);
      for (size_t i = 0; i < sizeof element; ++i) raw[i] = static_cast<uint8_t>(i * 37 + 200);
    }
    element.info = row.info;
    element.struct_info = row.structure;
    std::vector<uint8_t> bytes(sizeof element);
    std::memcpy(bytes.data(), &element, sizeof element);
    if (row.info) bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(row.info),
                               reinterpret_cast<uint8_t*>(row.info) + sizeof(ElementInfo));
    if (row.structure) bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(row.structure),
                                    reinterpret_cast<uint8_t*>(row.structure) + sizeof(StructInfo));
    EXPECT_EQ(list_element_checksum(&element), hash_name(bytes.data(), static_cast<int32_t>(bytes.size())))
        << (row.info ? "info " : "") << (row.structure ? "struct " : "") << (row.every_byte ? "every byte" : "");
  }
}

TEST_F(VariableStore, ListVariableMirrorsItsElements) {
  Variable* list = make(locals, "L$");
  list->flags = kVariableList;
  ListElement* first = list_element_append(nullptr);
  ListElement* second = list_element_append(first);
  list->cursor = first;
  set_variable(list, nullptr, 1, nullptr, -1);
  EXPECT_EQ(first->number, 1) << "a store writes the cursor element";
  EXPECT_EQ(first->checksum, list->checksum);

  list->pending_element = second;
  set_variable(list, nullptr, 2, nullptr, -1);
  EXPECT_EQ(second->number, 2) << "the pending element takes the store";
  EXPECT_EQ(list->cursor, first);
  EXPECT_EQ(list->number, 1) << "the variable shows its cursor again";
  EXPECT_EQ(list->pending_element, nullptr);

  first->number = 10;  // changed behind the variable's back
  first->checksum = list_element_checksum(first);
  void* text;
  double number;
  get_variable_value(list, &text, &number, nullptr);
  EXPECT_EQ(number, 10) << "a changed checksum reloads";

  char* owned = crt::_strdup("element text");
  set_variable(list, owned, 0, nullptr, 13);
  crt::free(owned);
  EXPECT_STREQ(static_cast<char*>(first->data), "element text");
  EXPECT_TRUE(first->flags & kVariableOwnsData);
  EXPECT_FALSE(first->flags & kVariableList) << "elements never carry the list bit";
}

TEST_F(VariableStore, SetIntDropsOwnership) {
  Variable* variable = make(locals, "I%");
  variable->flags = kVariableOwnsData;
  variable_set_int(variable, 0);
  EXPECT_TRUE(variable->flags & kVariableOwnsData) << "an equal value changes nothing";
  variable_set_int(variable, 4);
  EXPECT_EQ(variable->number, 4);
  EXPECT_FALSE(variable->flags & kVariableOwnsData);
}

TEST_F(VariableStore, PushVariableFollowsAliasesOnceSwitchable) {
  Variable* source = make(locals, "SRC$");
  set_variable(source, const_cast<char*>("shared"), 3, nullptr, 7);
  Variable* alias = make(locals, "REF$");
  alias->alias = source;
  alias->number = 99;
  stack_push_variable("ref$");
  ValueCell* cell = context->stack_top;
  EXPECT_EQ(cell->variable, source);
  EXPECT_STREQ(static_cast<char*>(cell->text), "shared");
  EXPECT_EQ(cell->number, 3);
  EXPECT_EQ(cell->flags, 0u);

  alias_follow_suppressed = 1;
  stack_push_variable("REF$");
  EXPECT_EQ(context->stack_top->variable, alias);
  EXPECT_EQ(context->stack_top->number, 99);
  EXPECT_EQ(alias_follow_suppressed, 0);

  Variable* wide = make(locals, "W$");
  wide->flags = kVariableWideText | kVariablePackedList;
  stack_push_variable("W$");
  EXPECT_EQ(context->stack_top->flags, kCellWideText | kCellList);

  stack_push_variable("MISSING$");
  EXPECT_NE(context->stack_top->variable, nullptr) << "a missing name is declared";
  EXPECT_EQ(find_variable("MISSING$"), context->stack_top->variable);
}

TEST_F(VariableStore, ArgsListTakesSurplusArgumentsInOrder) {
  Variable* target = make(locals, "TARGET$");
  stack_push_double(0);  // something below the mark stays
  ValueCell* bottom = context->stack_top;
  ASSERT_TRUE(stack_save_mark(context));
  char* first = crt::_strdup("first");
  stack_push_value(first, 0, nullptr, 0);                 // a text without a variable
  stack_push_value(nullptr, 2, make(locals, "N$"), 0);  // a value read from a variable
  stack_push_value(nullptr, 0, target, 0);              // by reference
  context->stack_top->flags = kCellByReference;
  WCHAR* wide = crt::_wcsdup(u"wide");
  stack_push_value(wide, 0, nullptr, 0);
  context->stack_top->flags = kCellWideText;
  build_args_list();
  EXPECT_EQ(context->stack_top, bottom);

  Variable* args = find_variable("ARGS$");
  ASSERT_NE(args, nullptr);
  EXPECT_TRUE(args->flags & kVariableList);
  ListElement* element = args->cursor;
  ASSERT_EQ(list_element_count(element), 4u);
  EXPECT_EQ(element->prev, nullptr) << "the cursor is the first argument";
  EXPECT_STREQ(static_cast<char*>(element->data), "first");
  EXPECT_NE(element->data, first) << "texts are copied";
  EXPECT_EQ(element->flags, kVariableOwnsData);
  EXPECT_STREQ(static_cast<char*>(args->data), "first") << "ARGS$ shows its first element";
  element = element->next;
  EXPECT_EQ(element->number, 2);
  element = element->next;
  EXPECT_EQ(element_reference_variable(element), target);
  EXPECT_EQ(element->data, nullptr);
  element = element->next;
  EXPECT_EQ(std::u16string(static_cast<char16_t*>(element->data)), u"wide");
  EXPECT_EQ(element->flags, 0x30u);
  // The first argument's element was built last, so its links are as they were when its
  // checksum was taken (over the record with its zero checksum word).
  ListElement* head = args->cursor;
  uint32_t checksum = head->checksum;
  head->checksum = 0;
  EXPECT_EQ(list_element_checksum(head), checksum);
  head->checksum = checksum;
  EXPECT_EQ(args->checksum, checksum);
  crt::free(first);
  crt::free(wide);

  // A second call with no surplus arguments leaves an empty list, freeing the old one.
  ASSERT_TRUE(stack_save_mark(context));
  build_args_list();
  EXPECT_EQ(find_variable("ARGS$"), args);
  EXPECT_TRUE(args->flags & kVariableList);
  EXPECT_EQ(args->cursor, nullptr);
  EXPECT_EQ(args->data, nullptr);
}

}  // namespace
