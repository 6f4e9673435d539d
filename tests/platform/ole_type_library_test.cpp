// The type-library file format: what is written reads back the same through ITypeLib
// and ITypeInfo, damaged files are refused, and mutated files never crash the reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "platform/ole/automation.h"
#include "platform/ole/type_library.h"
#include "platform/kernel/utf.h"

using namespace platform::ole;

namespace {

TypeLibrarySpec sample_library() {
  TypeLibrarySpec library;
  library.guid = {0x11112222, 0x3333, 0x4444, {1, 2, 3, 4, 5, 6, 7, 8}};
  library.major = 2;
  library.minor = 5;
  library.name = u"Sample";
  TypeEntrySpec coclass;
  coclass.kind = TKIND_COCLASS;
  coclass.name = u"Thing";
  coclass.implemented = {{1, IMPLTYPEFLAG_FDEFAULT}, {3, IMPLTYPEFLAG_FSOURCE}};
  TypeEntrySpec face;
  face.kind = TKIND_DISPATCH;
  face.name = u"IThing";
  face.guid = {0xAAAA0000, 1, 2, {9, 9, 9, 9, 9, 9, 9, 9}};
  FunctionSpec method{7, u"Move", INVOKE_FUNC, {{VT_BOOL}, 0}, {}};
  method.parameters = {{u"by", PARAMFLAG_FIN, {{VT_PTR, VT_USERDEFINED}, 2}},
                       {u"list", PARAMFLAG_FIN | PARAMFLAG_FOPT, {{VT_SAFEARRAY, VT_BSTR}, 0}},
                       {u"out", PARAMFLAG_FOUT, {{VT_PTR, VT_VARIANT}, 0}}};
  face.functions = {method, {8, u"Size", INVOKE_PROPERTYGET, {{VT_I4}, 0}, {}}};
  face.variables = {{9, u"Label", VAR_DISPATCH, {{VT_BSTR}, 0}, {}}};
  TypeEntrySpec alias;
  alias.kind = TKIND_ALIAS;
  alias.name = u"Distance";
  alias.alias = {{VT_R8}, 0};
  TypeEntrySpec enumeration;
  enumeration.kind = TKIND_ENUM;
  enumeration.name = u"Mode";
  VariableSpec first{100, u"modeOff", VAR_CONST, {{VT_I4}, 0}, {}};
  first.value.type = VT_I4;
  first.value.whole = -3;
  VariableSpec second{101, u"modeName", VAR_CONST, {{VT_BSTR}, 0}, {}};
  second.value.type = VT_BSTR;
  second.value.text = u"named";
  enumeration.variables = {first, second};
  library.types = {coclass, face, alias, enumeration};
  return library;
}

std::string text(BSTR value) {
  std::string result = platform::utf8_from_utf16(value);
  SysFreeString(value);
  return result;
}

// Walks everything an ITypeLib offers, as a client would.
void walk(ITypeLib* library) {
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  SysFreeString(name);
  TLIBATTR* library_attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&library_attributes))) library->ReleaseTLibAttr(library_attributes);
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    ITypeInfo* info = nullptr;
    ASSERT_EQ(library->GetTypeInfo(i, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    for (UINT f = 0; f < attributes->cFuncs; ++f) {
      FUNCDESC* function = nullptr;
      ASSERT_EQ(info->GetFuncDesc(f, &function), S_OK);
      BSTR names[8] = {};
      UINT count = 0;
      info->GetNames(function->memid, names, 8, &count);
      for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
      for (SHORT p = 0; p < function->cParams; ++p) {
        const TYPEDESC* type = &function->lprgelemdescParam[p].tdesc;
        while (type->vt == VT_PTR || type->vt == VT_SAFEARRAY) type = type->lptdesc;
        if (type->vt == VT_USERDEFINED) {
          ITypeInfo* referenced = nullptr;
          ASSERT_EQ(info->GetRefTypeInfo(type->hreftype, &referenced), S_OK);
          referenced->Release();
        }
      }
      info->ReleaseFuncDesc(function);
    }
    for (UINT v = 0; v < attributes->cVars; ++v) {
      VARDESC* variable = nullptr;
      ASSERT_EQ(info->GetVarDesc(v, &variable), S_OK);
      info->ReleaseVarDesc(variable);
    }
    for (UINT t = 0; t < attributes->cImplTypes; ++t) {
      HREFTYPE reference = 0;
      ASSERT_EQ(info->GetRefTypeOfImplType(t, &reference), S_OK);
      ITypeInfo* implemented = nullptr;
      ASSERT_EQ(info->GetRefTypeInfo(reference, &implemented), S_OK);
      implemented->Release();
    }
    info->ReleaseTypeAttr(attributes);
    info->Release();
  }
}

}  // namespace

TEST(TypeLibrary, ReadsBackWhatWasWritten) {
  std::vector<uint8_t> bytes = write_type_library(sample_library());
  TypeLibrarySpec read;
  ASSERT_EQ(read_type_library(bytes.data(), bytes.size(), &read), S_OK);
  EXPECT_EQ(write_type_library(read), bytes);

  ITypeLib* library = nullptr;
  ASSERT_EQ(create_type_library(read, &library), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(text(name), "Sample");
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->wMajorVerNum, 2);
  EXPECT_EQ(attributes->wMinorVerNum, 5);
  EXPECT_TRUE(attributes->guid == sample_library().guid);
  library->ReleaseTLibAttr(attributes);

  ITypeInfo* face = nullptr;
  ASSERT_EQ(library->GetTypeInfo(1, &face), S_OK);
  FUNCDESC* move = nullptr;
  ASSERT_EQ(face->GetFuncDesc(0, &move), S_OK);
  EXPECT_EQ(move->memid, 7);
  EXPECT_EQ(move->invkind, INVOKE_FUNC);
  EXPECT_EQ(move->elemdescFunc.tdesc.vt, VT_BOOL);
  ASSERT_EQ(move->cParams, 3);
  EXPECT_EQ(move->cParamsOpt, 1);
  EXPECT_EQ(move->lprgelemdescParam[0].tdesc.vt, VT_PTR);
  EXPECT_EQ(move->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_USERDEFINED);
  EXPECT_EQ(move->lprgelemdescParam[0].tdesc.lptdesc->hreftype, 2u);
  EXPECT_EQ(move->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_BSTR);
  EXPECT_EQ(move->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT);
  face->ReleaseFuncDesc(move);
  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(face->GetNames(7, names, 4, &count), S_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(text(names[0]), "Move");
  EXPECT_EQ(text(names[3]), "out");
  text(names[1]);
  text(names[2]);
  LPOLESTR wanted[1] = {const_cast<LPOLESTR>(u"LABEL")};
  MEMBERID id = 0;
  EXPECT_EQ(face->GetIDsOfNames(wanted, 1, &id), S_OK);
  EXPECT_EQ(id, 9);
  ITypeInfo* alias = nullptr;
  ASSERT_EQ(face->GetRefTypeInfo(2, &alias), S_OK);
  TYPEATTR* alias_attributes = nullptr;
  ASSERT_EQ(alias->GetTypeAttr(&alias_attributes), S_OK);
  EXPECT_EQ(alias_attributes->typekind, TKIND_ALIAS);
  EXPECT_EQ(alias_attributes->tdescAlias.vt, VT_R8);
  alias->ReleaseTypeAttr(alias_attributes);
  alias->Release();
  EXPECT_EQ(face->GetRefTypeInfo(99, &alias), TYPE_E_ELEMENTNOTFOUND);
  face->Release();

  ITypeInfo* mode = nullptr;
  ASSERT_EQ(library->GetTypeInfo(3, &mode), S_OK);
  VARDESC* constant = nullptr;
  ASSERT_EQ(mode->GetVarDesc(1, &constant), S_OK);
  EXPECT_EQ(constant->varkind, VAR_CONST);
  EXPECT_EQ(constant->lpvarValue->vt, VT_BSTR);
  EXPECT_EQ(platform::utf8_from_utf16(constant->lpvarValue->bstrVal), "named");
  mode->ReleaseVarDesc(constant);
  // The type information keeps its library alive.
  library->Release();
  ASSERT_EQ(mode->GetVarDesc(0, &constant), S_OK);
  EXPECT_EQ(constant->lpvarValue->lVal, -3);
  mode->ReleaseVarDesc(constant);
  mode->Release();
}

TEST(TypeLibrary, RefusesDamagedFiles) {
  std::vector<uint8_t> good = write_type_library(sample_library());
  TypeLibrarySpec read;
  // Every cut short of the whole file is refused.
  for (size_t size = 0; size < good.size(); ++size) {
    EXPECT_LT(read_type_library(good.data(), size, &read), 0) << "cut at " << size;
  }
  struct Damage {
    const char* what;
    size_t at;
    uint8_t value;
    HRESULT result;
  };
  const Damage damages[] = {
      {"magic", 0, 'X', TYPE_E_UNSUPFORMAT},
      {"version", 4, 2, TYPE_E_UNSUPFORMAT},
      {"type count", 8 + 16 + 8 + 2 + 12, 0xFF, TYPE_E_INVDATAREAD},
  };
  for (const Damage& damage : damages) {
    std::vector<uint8_t> bytes = good;
    bytes[damage.at] = damage.value;
    EXPECT_EQ(read_type_library(bytes.data(), bytes.size(), &read), damage.result) << damage.what;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_EQ(read_type_library(longer.data(), longer.size(), &read), TYPE_E_INVDATAREAD);

  TypeLibrarySpec dangling = sample_library();
  dangling.types[0].implemented[0].reference = 4;
  std::vector<uint8_t> bytes = write_type_library(dangling);
  EXPECT_EQ(read_type_library(bytes.data(), bytes.size(), &read), TYPE_E_INVDATAREAD);
  TypeLibrarySpec deep = sample_library();
  deep.types[1].functions[0].result.chain = std::vector<VARTYPE>(9, VT_PTR);
  deep.types[1].functions[0].result.chain.back() = VT_I4;
  bytes = write_type_library(deep);
  EXPECT_EQ(read_type_library(bytes.data(), bytes.size(), &read), TYPE_E_INVDATAREAD);
}

TEST(TypeLibrary, LoadTypeLibReadsFilesAndRefusesOthers) {
  std::string folder = (std::filesystem::temp_directory_path() / "zrk-tlb-XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  std::string good = folder + "/good.tlb";
  ASSERT_TRUE(save_type_library(sample_library(), good));
  std::string text_file = folder + "/text.tlb";
  FILE* file = std::fopen(text_file.c_str(), "w");
  std::fputs("not a type library", file);
  std::fclose(file);
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadTypeLib(platform::utf16_from_utf8(good).c_str(), &library), S_OK);
  walk(library);
  library->Release();
  EXPECT_EQ(LoadTypeLib(platform::utf16_from_utf8(text_file).c_str(), &library), TYPE_E_UNSUPFORMAT);
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(LoadTypeLib(platform::utf16_from_utf8(folder + "/none.tlb").c_str(), &library), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(u"", &library), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(platform::utf16_from_utf8(folder).c_str(), &library), TYPE_E_CANTLOADLIBRARY);
  std::filesystem::remove_all(folder);
}

// Mutations of a good file: flipped bits, changed bytes, cut, grown and spliced files.
// Whatever the reader accepts must be walkable; nothing may crash (run it under the
// sanitizer build too).
TEST(TypeLibrary, MutatedFilesNeverCrashTheReader) {
  const std::vector<uint8_t> good = write_type_library(sample_library());
  std::mt19937 random(20261210);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes = good;
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % bytes.size();
      switch (random() % 5) {
        case 0: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
        case 1: bytes[at] = static_cast<uint8_t>(random()); break;
        case 2: bytes.resize(at + 1); break;
        case 3: bytes.insert(bytes.begin() + static_cast<long>(at), static_cast<uint8_t>(random())); break;
        default: bytes[at] = static_cast<uint8_t>(random() % 2 ? 0xFF : 0x00); break;
      }
      if (bytes.empty()) bytes.push_back(0);
    }
    TypeLibrarySpec read;
    if (FAILED(read_type_library(bytes.data(), bytes.size(), &read))) continue;
    ++accepted;
    ITypeLib* library = nullptr;
    ASSERT_EQ(create_type_library(read, &library), S_OK);
    walk(library);
    library->Release();
  }
  // Some mutations (names, numbers) stay valid files: both paths were exercised.
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 20000);
}
