// #IMPORT: a type library's name, enumeration members and interface identifiers become
// compile-time constants; a file that is no type library is one error and no constant.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "compiler/frontend/type_library_import.h"
#include "compiler_fixture.h"
#include "foundation/hashes.h"
#include "platform/ole/type_library.h"

using namespace platform::ole;

namespace {

class TypeLibraryImportTest : public CompilerTest {
 protected:
  void SetUp() override {
    CompilerTest::SetUp();
    folder_ = (std::filesystem::temp_directory_path() / "zrk-import-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder_.data()), nullptr);
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    CompilerTest::TearDown();
  }

  std::string save(const TypeLibrarySpec& library, const char* name) {
    std::string path = folder_ + "/" + name;
    EXPECT_TRUE(save_type_library(library, path));
    return path;
  }

  // The value of a constant (names are upper-cased), or "<none>".
  static std::string constant(const char* name) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int32_t slot = find_compile_constant(hash_name_text(upper.c_str()));
    if (slot < 0 || !CompileConstantTable[slot]) return "<none>";
    return CompileConstantTable[slot]->value ? CompileConstantTable[slot]->value : "";
  }

  std::string folder_;
};

TypeLibrarySpec library_with(std::vector<TypeEntrySpec> types) {
  TypeLibrarySpec library;
  library.guid = {0x0A0B0C0D, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x02, 0x03, 0x04}};
  library.name = u"ImportedLib";
  library.types = std::move(types);
  return library;
}

// Members are told apart by their ids.
VariableSpec member(const char16_t* name, VARTYPE type, int64_t whole, const char16_t* text = u"") {
  static MEMBERID next_id = 100;
  VariableSpec variable{next_id++, name, VAR_CONST, {{type}, 0}, {}};
  variable.value.type = type;
  variable.value.whole = whole;
  variable.value.real = static_cast<double>(whole) / 4;
  variable.value.text = text;
  return variable;
}

}  // namespace

TEST_F(TypeLibraryImportTest, DefinesTheLibraryEnumerationMembersAndInterfaces) {
  TypeEntrySpec states;
  states.kind = TKIND_ENUM;
  states.name = u"State";
  states.variables = {member(u"stOff", VT_I4, 0), member(u"stOn", VT_I4, 1), member(u"stQuarter", VT_R8, 1),
                      member(u"stLow", VT_I2, -7), member(u"stWord", VT_BSTR, 0, u"word")};
  TypeEntrySpec face;
  face.kind = TKIND_DISPATCH;
  face.name = u"IPump";
  face.guid = {0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  TypeEntrySpec plain_face = face;
  plain_face.kind = TKIND_INTERFACE;
  plain_face.name = u"IValve";
  TypeEntrySpec coclass;
  coclass.kind = TKIND_COCLASS;
  coclass.name = u"Pump";
  TypeEntrySpec record;
  record.kind = TKIND_RECORD;
  record.name = u"Reading";
  record.variables = {member(u"recordField", VT_I4, 5)};
  std::string path = save(library_with({coclass, states, face, plain_face, record}), "pump.tlb");

  import_type_library("main.zrk", ("\"" + path + "\"").c_str());
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(constant("ImportedLib"), "{{0A0B0C0D-1234-5678-9ABC-DEF001020304}}");
  EXPECT_EQ(constant("stoff"), "0");
  EXPECT_EQ(constant("STON"), "1");
  EXPECT_EQ(constant("stQuarter"), "0.25");
  EXPECT_EQ(constant("stLow"), "-7");
  EXPECT_EQ(constant("stWord"), "word");
  EXPECT_EQ(constant("IID_IPUMP"), "{{DEADBEEF-0001-0002-0304-05060708090A}}");
  EXPECT_EQ(constant("iid_ivalve"), "{{DEADBEEF-0001-0002-0304-05060708090A}}");
  EXPECT_EQ(constant("Pump"), "<none>");
  EXPECT_EQ(constant("IID_Pump"), "<none>");
  EXPECT_EQ(constant("recordField"), "<none>");
}

TEST_F(TypeLibraryImportTest, ALibraryWithoutTypesDefinesOnlyItsName) {
  std::string path = save(library_with({}), "empty.tlb");
  int32_t before = compile_constant_count;
  import_type_library(nullptr, path.c_str());
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(compile_constant_count, before + 1);
  EXPECT_EQ(constant("ImportedLib"), "{{0A0B0C0D-1234-5678-9ABC-DEF001020304}}");
}

TEST_F(TypeLibraryImportTest, AFileThatIsNoTypeLibraryIsOneErrorAndNoConstant) {
  std::string text_file = folder_ + "/notes.tlb";
  FILE* file = std::fopen(text_file.c_str(), "w");
  std::fputs("ZTLB but not really", file);
  std::fclose(file);
  const std::string cases[] = {text_file, folder_ + "/missing.tlb", ""};
  for (const std::string& name : cases) {
    compile_error_count = 0;
    int32_t before = compile_constant_count;
    import_type_library("main.zrk", name.c_str());
    EXPECT_EQ(compile_error_count, 1) << name;
    EXPECT_EQ(compile_constant_count, before) << name;
    EXPECT_NE(errors().find("Error importing \"" + name + "\""), std::string::npos) << errors();
  }
}
