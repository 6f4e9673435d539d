// applications, forms, enumwindows and enumfontfamilies fill list variables.
#include <gtest/gtest.h>

#include <string>

#include "builtin_fixture.h"
#include "foundation/list_elements.h"
#include "library/lists/enumeration_builtins.h"
#include "platform/gdi/font_enumeration.h"

namespace {

class EnumerationBuiltinsTest : public BuiltinTest {
 protected:
  EnumerationBuiltinsTest() : BuiltinTest(register_enumeration_builtins) {}

  // A list variable that held something before, so the fill must clear it.
  Variable* stale_list() {
    Variable* list = make_variable(locals, "L%", "stale");
    return list;
  }
  static std::string face_of(const ListElement* element) {
    const auto* record = static_cast<LOGFONTW* const*>(element->data);
    std::string face;
    for (const WCHAR* c = record[0]->lfFaceName; *c; ++c) face += static_cast<char>(*c);
    return face;
  }
};

TEST_F(EnumerationBuiltinsTest, ApplicationsListsEveryLoadedProgram) {
  Variable* list = stale_list();
  push_variable(list);
  call("applications");
  uint32_t loaded = 0;
  for (ProgramContext* program = program_list; program; program = program->next) ++loaded;
  EXPECT_EQ(pop_number(), loaded);
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(list_element_count(list->cursor), loaded);
  EXPECT_EQ(list->number, platform::address_of(program_list));
  bool found = false;
  for (ListElement* e = list_element_first(list->cursor); e; e = e->next) {
    found = found || e->number == platform::address_of(context);
  }
  EXPECT_TRUE(found);
}

TEST_F(EnumerationBuiltinsTest, FormsOfAProgram) {
  context_add_form(context, platform::pointer_from(0x1234), 0, 0, 0);
  context_add_form(context, platform::pointer_from(0x5678), 0, 0, 0);
  struct Row {
    uint32_t program;
    double expected;
  } rows[] = {{platform::address_of(context), 2}, {0, 0}, {0x10, 0}};
  for (const Row& row : rows) {
    Variable* list = stale_list();
    push_variable(list);
    push(row.program);
    call("forms");
    EXPECT_EQ(pop_number(), row.expected) << row.program;
    EXPECT_EQ(list_element_count(list->cursor), row.expected);
  }
  remove_form_record(platform::pointer_from(0x1234));
  remove_form_record(platform::pointer_from(0x5678));
}

TEST_F(EnumerationBuiltinsTest, EnumWindowsWithoutWindowsGivesAnEmptyList) {
  Variable* list = stale_list();
  push_variable(list);
  call("enumwindows");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(list->cursor, nullptr);
}

TEST_F(EnumerationBuiltinsTest, FontFamiliesGiveOwnedFontRecords) {
  Variable* list = stale_list();
  push_variable(list);
  push(0);
  push(0);
  call("enumfontfamilies");
  EXPECT_EQ(pop_number(), 3);
  std::vector<std::string> faces;
  for (ListElement* e = list_element_first(list->cursor); e; e = e->next) {
    EXPECT_TRUE(e->flags & kVariableOwnsData);
    ASSERT_NE(e->struct_info, nullptr);
    faces.push_back(face_of(e));
  }
  EXPECT_EQ(faces, (std::vector<std::string>{"DejaVu Sans", "DejaVu Sans Mono", "DejaVu Serif"}));

  push_variable(list);
  push(0);
  push_text("dejavu serif");
  call("enumfontfamilies");
  EXPECT_EQ(pop_number(), 4);
  for (ListElement* e = list_element_first(list->cursor); e; e = e->next) EXPECT_EQ(face_of(e), "DejaVu Serif");

  push_variable(list);
  push(0);
  push_text("No Such Face");
  call("enumfontfamilies");
  EXPECT_EQ(pop_number(), 0);
}

}  // namespace
