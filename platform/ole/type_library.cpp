// Type libraries: the file format, its reader and writer, and ITypeLib/ITypeInfo over
// what was read.
#include "platform/ole/type_library.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/kernel/modules.h"
#include "platform/kernel/paths.h"
#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_object.h"
#include "platform/ole/com_runtime.h"

namespace platform::ole {

namespace {

constexpr char kMagic[4] = {'Z', 'T', 'L', 'B'};
constexpr uint16_t kVersion = 1;
constexpr size_t kMaxTypeDepth = 8;
constexpr size_t kMaxFileSize = 16u << 20;

// ---- Writing ----

struct Writer {
  std::vector<uint8_t> bytes;
  void u8(uint8_t value) { bytes.push_back(value); }
  void u16(uint16_t value) {
    u8(static_cast<uint8_t>(value));
    u8(static_cast<uint8_t>(value >> 8));
  }
  void u32(uint32_t value) {
    u16(static_cast<uint16_t>(value));
    u16(static_cast<uint16_t>(value >> 16));
  }
  void u64(uint64_t value) {
    u32(static_cast<uint32_t>(value));
    u32(static_cast<uint32_t>(value >> 32));
  }
  void f64(double value) {
    uint64_t raw;
    std::memcpy(&raw, &value, sizeof(raw));
    u64(raw);
  }
  void text(const std::u16string& value) {
    size_t count = value.size() < 0xFFFF ? value.size() : 0xFFFF;
    u16(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) u16(value[i]);
  }
  void guid(const GUID& value) {
    u32(value.Data1);
    u16(value.Data2);
    u16(value.Data3);
    for (uint8_t byte : value.Data4) u8(byte);
  }
  void type(const TypeSpec& value) {
    if (value.chain.empty()) {
      u8(1);
      u16(VT_EMPTY);
      return;
    }
    u8(static_cast<uint8_t>(value.chain.size()));
    for (VARTYPE vt : value.chain) u16(vt);
    if (value.chain.back() == VT_USERDEFINED) u32(value.reference);
  }
};

bool constant_is_whole(VARTYPE type) {
  return type == VT_I2 || type == VT_I4 || type == VT_UI1 || type == VT_BOOL || type == VT_ERROR || type == VT_INT;
}
bool constant_is_real(VARTYPE type) { return type == VT_R4 || type == VT_R8 || type == VT_DATE; }

// ---- Reading ----

struct Reader {
  const uint8_t* cursor;
  const uint8_t* end;
  bool ok = true;

  size_t left() const { return static_cast<size_t>(end - cursor); }
  bool take(size_t count) {
    if (!ok || left() < count) {
      ok = false;
      return false;
    }
    return true;
  }
  uint8_t u8() {
    if (!take(1)) return 0;
    return *cursor++;
  }
  uint16_t u16() {
    if (!take(2)) return 0;
    uint16_t value = static_cast<uint16_t>(cursor[0] | cursor[1] << 8);
    cursor += 2;
    return value;
  }
  uint32_t u32() {
    uint32_t low = u16();
    return low | static_cast<uint32_t>(u16()) << 16;
  }
  uint64_t u64() {
    uint64_t low = u32();
    return low | static_cast<uint64_t>(u32()) << 32;
  }
  double f64() {
    uint64_t raw = u64();
    double value;
    std::memcpy(&value, &raw, sizeof(value));
    return value;
  }
  std::u16string text() {
    uint16_t count = u16();
    if (!take(static_cast<size_t>(count) * 2)) return {};
    std::u16string value(count, u'\0');
    for (uint16_t i = 0; i < count; ++i) value[i] = static_cast<char16_t>(cursor[2 * i] | cursor[2 * i + 1] << 8);
    cursor += static_cast<size_t>(count) * 2;
    return value;
  }
  GUID guid() {
    GUID value{};
    value.Data1 = u32();
    value.Data2 = u16();
    value.Data3 = u16();
    for (uint8_t& byte : value.Data4) byte = u8();
    return value;
  }
  TypeSpec type() {
    TypeSpec value;
    size_t depth = u8();
    if (depth < 1 || depth > kMaxTypeDepth) {
      ok = false;
      return value;
    }
    for (size_t i = 0; i < depth && ok; ++i) {
      VARTYPE vt = u16();
      bool wraps = vt == VT_PTR || vt == VT_SAFEARRAY;
      if (wraps != (i + 1 < depth)) ok = false;
      value.chain.push_back(vt);
    }
    if (ok && value.chain.back() == VT_USERDEFINED) value.reference = u32();
    return value;
  }
  // A count whose entries need at least minimum bytes each must fit what is left.
  uint32_t count(uint32_t value, size_t minimum) {
    if (static_cast<uint64_t>(value) * minimum > left()) ok = false;
    return ok ? value : 0;
  }
};

bool reference_ok(const TypeSpec& type, size_t type_count) {
  return type.chain.empty() || type.chain.back() != VT_USERDEFINED || type.reference < type_count;
}

}  // namespace

std::vector<uint8_t> write_type_library(const TypeLibrarySpec& library) {
  Writer out;
  for (char c : kMagic) out.u8(static_cast<uint8_t>(c));
  out.u16(kVersion);
  out.u16(0);
  out.guid(library.guid);
  out.u16(library.major);
  out.u16(library.minor);
  out.u32(library.locale);
  out.text(library.name);
  out.u32(static_cast<uint32_t>(library.types.size()));
  for (const TypeEntrySpec& type : library.types) {
    out.u8(static_cast<uint8_t>(type.kind));
    out.text(type.name);
    out.guid(type.guid);
    out.type(type.alias);
    out.u16(static_cast<uint16_t>(type.functions.size()));
    for (const FunctionSpec& function : type.functions) {
      out.u32(static_cast<uint32_t>(function.id));
      out.text(function.name);
      out.u8(static_cast<uint8_t>(function.kind));
      out.type(function.result);
      out.u16(static_cast<uint16_t>(function.parameters.size()));
      for (const ParameterSpec& parameter : function.parameters) {
        out.text(parameter.name);
        out.u16(parameter.flags);
        out.type(parameter.type);
      }
    }
    out.u16(static_cast<uint16_t>(type.variables.size()));
    for (const VariableSpec& variable : type.variables) {
      out.u32(static_cast<uint32_t>(variable.id));
      out.text(variable.name);
      out.u8(static_cast<uint8_t>(variable.kind));
      out.type(variable.type);
      if (variable.kind != VAR_CONST) continue;
      out.u16(variable.value.type);
      if (constant_is_whole(variable.value.type)) {
        out.u32(static_cast<uint32_t>(variable.value.whole));
      } else if (constant_is_real(variable.value.type)) {
        out.f64(variable.value.real);
      } else if (variable.value.type == VT_CY) {
        out.u64(static_cast<uint64_t>(variable.value.whole));
      } else {
        out.text(variable.value.text);
      }
    }
    out.u16(static_cast<uint16_t>(type.implemented.size()));
    for (const ImplementedSpec& implemented : type.implemented) {
      out.u32(implemented.reference);
      out.u32(static_cast<uint32_t>(implemented.flags));
    }
  }
  return out.bytes;
}

bool save_type_library(const TypeLibrarySpec& library, const std::string& host_file) {
  std::vector<uint8_t> bytes = write_type_library(library);
  FILE* file = std::fopen(host_file.c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

HRESULT read_type_library(const uint8_t* bytes, size_t size, TypeLibrarySpec* library) {
  if (!bytes || !library) return E_INVALIDARG;
  if (size < 8 || std::memcmp(bytes, kMagic, 4) != 0) return TYPE_E_UNSUPFORMAT;
  Reader in{bytes + 4, bytes + size};
  if (in.u16() != kVersion || in.u16() != 0) return TYPE_E_UNSUPFORMAT;
  TypeLibrarySpec result;
  result.guid = in.guid();
  result.major = in.u16();
  result.minor = in.u16();
  result.locale = in.u32();
  result.name = in.text();
  // The smallest type: kind, name, GUID, alias type and three counts.
  uint32_t type_count = in.count(in.u32(), 1 + 2 + 16 + 3 + 6);
  for (uint32_t t = 0; t < type_count && in.ok; ++t) {
    TypeEntrySpec type;
    uint8_t kind = in.u8();
    if (kind >= TKIND_MAX) in.ok = false;
    type.kind = static_cast<TYPEKIND>(kind);
    type.name = in.text();
    type.guid = in.guid();
    type.alias = in.type();
    uint32_t functions = in.count(in.u16(), 4 + 2 + 1 + 3 + 2);
    for (uint32_t f = 0; f < functions && in.ok; ++f) {
      FunctionSpec function;
      function.id = static_cast<MEMBERID>(in.u32());
      function.name = in.text();
      uint8_t invoke = in.u8();
      if (invoke != 1 && invoke != 2 && invoke != 4 && invoke != 8) in.ok = false;
      function.kind = static_cast<INVOKEKIND>(invoke);
      function.result = in.type();
      uint32_t parameters = in.count(in.u16(), 2 + 2 + 3);
      for (uint32_t p = 0; p < parameters && in.ok; ++p) {
        ParameterSpec parameter;
        parameter.name = in.text();
        parameter.flags = in.u16();
        parameter.type = in.type();
        function.parameters.push_back(std::move(parameter));
      }
      type.functions.push_back(std::move(function));
    }
    uint32_t variables = in.count(in.u16(), 4 + 2 + 1 + 3);
    for (uint32_t v = 0; v < variables && in.ok; ++v) {
      VariableSpec variable;
      variable.id = static_cast<MEMBERID>(in.u32());
      variable.name = in.text();
      uint8_t variable_kind = in.u8();
      if (variable_kind > VAR_DISPATCH) in.ok = false;
      variable.kind = static_cast<VARKIND>(variable_kind);
      variable.type = in.type();
      if (variable.kind == VAR_CONST && in.ok) {
        VARTYPE value_type = in.u16();
        variable.value.type = value_type;
        if (constant_is_whole(value_type)) {
          variable.value.whole = static_cast<int32_t>(in.u32());
        } else if (constant_is_real(value_type)) {
          variable.value.real = in.f64();
        } else if (value_type == VT_CY) {
          variable.value.whole = static_cast<int64_t>(in.u64());
        } else if (value_type == VT_BSTR) {
          variable.value.text = in.text();
        } else {
          in.ok = false;
        }
      }
      type.variables.push_back(std::move(variable));
    }
    uint32_t implemented = in.count(in.u16(), 8);
    for (uint32_t i = 0; i < implemented && in.ok; ++i) {
      ImplementedSpec entry;
      entry.reference = in.u32();
      entry.flags = static_cast<INT>(in.u32());
      type.implemented.push_back(entry);
    }
    result.types.push_back(std::move(type));
  }
  if (!in.ok || in.left() != 0) return TYPE_E_INVDATAREAD;
  size_t count = result.types.size();
  for (const TypeEntrySpec& type : result.types) {
    bool ok = reference_ok(type.alias, count);
    for (const FunctionSpec& function : type.functions) {
      ok = ok && reference_ok(function.result, count);
      for (const ParameterSpec& parameter : function.parameters) ok = ok && reference_ok(parameter.type, count);
    }
    for (const VariableSpec& variable : type.variables) ok = ok && reference_ok(variable.type, count);
    for (const ImplementedSpec& implemented : type.implemented) ok = ok && implemented.reference < count;
    if (!ok) return TYPE_E_INVDATAREAD;
  }
  *library = std::move(result);
  return S_OK;
}

// ---- ITypeLib and ITypeInfo ----

namespace {

BSTR new_text(const std::u16string& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Fills a TYPEDESC chain from nodes (one node for each link of the TypeSpec's chain).
void fill_type(const TypeSpec& spec, TYPEDESC* nodes, TYPEDESC* target) {
  if (spec.chain.empty()) {
    target->vt = VT_EMPTY;
    target->lptdesc = nullptr;
    return;
  }
  TYPEDESC* current = target;
  for (size_t i = 0; i < spec.chain.size(); ++i) {
    current->vt = spec.chain[i];
    current->lptdesc = nullptr;
    if (i + 1 < spec.chain.size()) {
      current->lptdesc = &nodes[i];
      current = &nodes[i];
    } else if (spec.chain[i] == VT_USERDEFINED) {
      current->hreftype = spec.reference;
    }
  }
}

size_t extra_nodes(const TypeSpec& spec) { return spec.chain.empty() ? 0 : spec.chain.size() - 1; }

bool same_name(const std::u16string& a, const WCHAR* b) {
  return b && names_equal_ignoring_case(std::u16string_view(a), std::u16string_view(b));
}

class TypeLibraryObject;

class TypeInfoObject final : public ComObject<ITypeInfo> {
 public:
  TypeInfoObject(TypeLibraryObject* library, UINT index);
  ~TypeInfoObject() override;

  HRESULT GetTypeAttr(TYPEATTR** attributes) override;
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** description) override;
  HRESULT GetVarDesc(UINT index, VARDESC** description) override;
  HRESULT GetNames(MEMBERID member, BSTR* names, UINT max_names, UINT* name_count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) override;
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc_string, DWORD* help_context,
                           BSTR* help_file) override;
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) override;
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return E_NOTIMPL; }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, PVOID* object) override;
  HRESULT GetMops(MEMBERID, BSTR* mops) override {
    if (mops) *mops = nullptr;
    return S_OK;
  }
  HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR* attributes) override { std::free(attributes); }
  void ReleaseFuncDesc(FUNCDESC* description) override { std::free(description); }
  void ReleaseVarDesc(VARDESC* description) override {
    if (!description) return;
    if (description->varkind == VAR_CONST) VariantClear(description->lpvarValue);
    std::free(description);
  }

 private:
  const TypeEntrySpec& type() const;
  TypeLibraryObject* library_;
  UINT index_;
};

class TypeLibraryObject final : public ComObject<ITypeLib> {
 public:
  explicit TypeLibraryObject(TypeLibrarySpec spec) : ComObject(IID_ITypeLib), spec_(std::move(spec)) {}
  const TypeLibrarySpec& spec() const { return spec_; }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(spec_.types.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index >= spec_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = new TypeInfoObject(this, index);
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= spec_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = spec_.types[index].kind;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    for (size_t i = 0; i < spec_.types.size(); ++i) {
      if (spec_.types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), info);
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** attributes) override {
    if (!attributes) return E_INVALIDARG;
    auto* result = static_cast<TLIBATTR*>(std::calloc(1, sizeof(TLIBATTR)));
    if (!result) return E_OUTOFMEMORY;
    result->guid = spec_.guid;
    result->lcid = spec_.locale;
    result->syskind = SYS_WIN32;
    result->wMajorVerNum = spec_.major;
    result->wMinorVerNum = spec_.minor;
    *attributes = result;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc_string, DWORD* help_context, BSTR* help_file) override {
    if (index < -1 || (index >= 0 && static_cast<size_t>(index) >= spec_.types.size())) return TYPE_E_ELEMENTNOTFOUND;
    if (name) *name = new_text(index < 0 ? spec_.name : spec_.types[static_cast<size_t>(index)].name);
    if (doc_string) *doc_string = nullptr;
    if (help_context) *help_context = 0;
    if (help_file) *help_file = nullptr;
    return S_OK;
  }
  HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (!found) return E_INVALIDARG;
    *found = FALSE;
    for (const TypeEntrySpec& type : spec_.types) {
      if (same_name(type.name, name)) *found = TRUE;
    }
    return S_OK;
  }
  HRESULT FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT* found) override {
    if (found) *found = 0;
    return E_NOTIMPL;
  }
  void ReleaseTLibAttr(TLIBATTR* attributes) override { std::free(attributes); }

 private:
  TypeLibrarySpec spec_;
};

TypeInfoObject::TypeInfoObject(TypeLibraryObject* library, UINT index)
    : ComObject(IID_ITypeInfo), library_(library), index_(index) {
  library_->AddRef();
}

TypeInfoObject::~TypeInfoObject() { library_->Release(); }

const TypeEntrySpec& TypeInfoObject::type() const { return library_->spec().types[index_]; }

HRESULT TypeInfoObject::GetTypeAttr(TYPEATTR** attributes) {
  if (!attributes) return E_INVALIDARG;
  const TypeEntrySpec& spec = type();
  size_t nodes = extra_nodes(spec.alias);
  auto* result = static_cast<TYPEATTR*>(std::calloc(1, sizeof(TYPEATTR) + nodes * sizeof(TYPEDESC)));
  if (!result) return E_OUTOFMEMORY;
  result->guid = spec.guid;
  result->lcid = library_->spec().locale;
  result->memidConstructor = MEMBERID_NIL;
  result->memidDestructor = MEMBERID_NIL;
  result->typekind = spec.kind;
  result->cFuncs = static_cast<WORD>(spec.functions.size());
  result->cVars = static_cast<WORD>(spec.variables.size());
  result->cImplTypes = static_cast<WORD>(spec.implemented.size());
  result->cbSizeVft = static_cast<WORD>(spec.kind == TKIND_DISPATCH ? 7 * sizeof(void*) : 0);
  result->cbAlignment = 4;
  result->wMajorVerNum = library_->spec().major;
  result->wMinorVerNum = library_->spec().minor;
  if (spec.kind == TKIND_ALIAS) fill_type(spec.alias, reinterpret_cast<TYPEDESC*>(result + 1), &result->tdescAlias);
  *attributes = result;
  return S_OK;
}

HRESULT TypeInfoObject::GetFuncDesc(UINT index, FUNCDESC** description) {
  if (!description) return E_INVALIDARG;
  *description = nullptr;
  const TypeEntrySpec& spec = type();
  if (index >= spec.functions.size()) return TYPE_E_ELEMENTNOTFOUND;
  const FunctionSpec& function = spec.functions[index];
  size_t count = function.parameters.size();
  size_t nodes = extra_nodes(function.result);
  for (const ParameterSpec& parameter : function.parameters) nodes += extra_nodes(parameter.type);
  auto* block = static_cast<uint8_t*>(
      std::calloc(1, sizeof(FUNCDESC) + count * sizeof(ELEMDESC) + nodes * sizeof(TYPEDESC)));
  if (!block) return E_OUTOFMEMORY;
  auto* result = reinterpret_cast<FUNCDESC*>(block);
  auto* parameters = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
  auto* node = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + count * sizeof(ELEMDESC));
  result->memid = function.id;
  result->lprgelemdescParam = count ? parameters : nullptr;
  result->funckind = spec.kind == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
  result->invkind = function.kind;
  result->callconv = CC_STDCALL;
  result->cParams = static_cast<SHORT>(count);
  fill_type(function.result, node, &result->elemdescFunc.tdesc);
  node += extra_nodes(function.result);
  for (size_t p = 0; p < count; ++p) {
    const ParameterSpec& parameter = function.parameters[p];
    fill_type(parameter.type, node, &parameters[p].tdesc);
    node += extra_nodes(parameter.type);
    parameters[p].paramdesc.wParamFlags = parameter.flags;
    if (parameter.flags & PARAMFLAG_FOPT) ++result->cParamsOpt;
  }
  *description = result;
  return S_OK;
}

HRESULT TypeInfoObject::GetVarDesc(UINT index, VARDESC** description) {
  if (!description) return E_INVALIDARG;
  *description = nullptr;
  const TypeEntrySpec& spec = type();
  if (index >= spec.variables.size()) return TYPE_E_ELEMENTNOTFOUND;
  const VariableSpec& variable = spec.variables[index];
  size_t nodes = extra_nodes(variable.type);
  auto* block = static_cast<uint8_t*>(std::calloc(1, sizeof(VARDESC) + sizeof(VARIANT) + nodes * sizeof(TYPEDESC)));
  if (!block) return E_OUTOFMEMORY;
  auto* result = reinterpret_cast<VARDESC*>(block);
  auto* value = reinterpret_cast<VARIANT*>(block + sizeof(VARDESC));
  result->memid = variable.id;
  result->varkind = variable.kind;
  fill_type(variable.type, reinterpret_cast<TYPEDESC*>(block + sizeof(VARDESC) + sizeof(VARIANT)),
            &result->elemdescVar.tdesc);
  if (variable.kind == VAR_CONST) {
    result->lpvarValue = value;
    value->vt = variable.value.type;
    switch (variable.value.type) {
      case VT_I2: case VT_BOOL: value->iVal = static_cast<int16_t>(variable.value.whole); break;
      case VT_UI1: value->bVal = static_cast<uint8_t>(variable.value.whole); break;
      case VT_I4: case VT_ERROR: case VT_INT: value->lVal = static_cast<int32_t>(variable.value.whole); break;
      case VT_R4: value->fltVal = static_cast<float>(variable.value.real); break;
      case VT_R8: case VT_DATE: value->dblVal = variable.value.real; break;
      case VT_CY: value->cyVal.int64 = variable.value.whole; break;
      case VT_BSTR: value->bstrVal = new_text(variable.value.text); break;
      default: value->vt = VT_EMPTY; break;
    }
  } else {
    result->oInst = index * sizeof(VARIANT);
  }
  *description = result;
  return S_OK;
}

HRESULT TypeInfoObject::GetNames(MEMBERID member, BSTR* names, UINT max_names, UINT* name_count) {
  if (!names || !name_count) return E_INVALIDARG;
  *name_count = 0;
  const TypeEntrySpec& spec = type();
  for (const FunctionSpec& function : spec.functions) {
    if (function.id != member) continue;
    if (max_names > 0) names[(*name_count)++] = new_text(function.name);
    for (const ParameterSpec& parameter : function.parameters) {
      if (*name_count >= max_names) break;
      names[(*name_count)++] = new_text(parameter.name);
    }
    return S_OK;
  }
  for (const VariableSpec& variable : spec.variables) {
    if (variable.id != member) continue;
    if (max_names > 0) names[(*name_count)++] = new_text(variable.name);
    return S_OK;
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoObject::GetRefTypeOfImplType(UINT index, HREFTYPE* reference) {
  if (!reference) return E_INVALIDARG;
  const TypeEntrySpec& spec = type();
  if (index >= spec.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
  *reference = spec.implemented[index].reference;
  return S_OK;
}

HRESULT TypeInfoObject::GetImplTypeFlags(UINT index, INT* flags) {
  if (!flags) return E_INVALIDARG;
  const TypeEntrySpec& spec = type();
  if (index >= spec.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
  *flags = spec.implemented[index].flags;
  return S_OK;
}

HRESULT TypeInfoObject::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  const TypeEntrySpec& spec = type();
  for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
  for (const FunctionSpec& function : spec.functions) {
    if (!same_name(function.name, names[0])) continue;
    ids[0] = function.id;
    HRESULT result = S_OK;
    for (UINT i = 1; i < count; ++i) {
      for (size_t p = 0; p < function.parameters.size(); ++p) {
        if (same_name(function.parameters[p].name, names[i])) ids[i] = static_cast<MEMBERID>(p);
      }
      if (ids[i] == MEMBERID_NIL) result = DISP_E_UNKNOWNNAME;
    }
    return result;
  }
  for (const VariableSpec& variable : spec.variables) {
    if (!same_name(variable.name, names[0])) continue;
    ids[0] = variable.id;
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfoObject::GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc_string, DWORD* help_context,
                                         BSTR* help_file) {
  const TypeEntrySpec& spec = type();
  const std::u16string* found = member == MEMBERID_NIL ? &spec.name : nullptr;
  for (const FunctionSpec& function : spec.functions) {
    if (!found && function.id == member) found = &function.name;
  }
  for (const VariableSpec& variable : spec.variables) {
    if (!found && variable.id == member) found = &variable.name;
  }
  if (!found) return TYPE_E_ELEMENTNOTFOUND;
  if (name) *name = new_text(*found);
  if (doc_string) *doc_string = nullptr;
  if (help_context) *help_context = 0;
  if (help_file) *help_file = nullptr;
  return S_OK;
}

HRESULT TypeInfoObject::GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  return library_->GetTypeInfo(reference, info);
}

HRESULT TypeInfoObject::CreateInstance(IUnknown* outer, REFIID iid, PVOID* object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  if (type().kind != TKIND_COCLASS) return TYPE_E_ELEMENTNOTFOUND;
  return CoCreateInstance(type().guid, outer, CLSCTX_INPROC_SERVER, iid, object);
}

HRESULT TypeInfoObject::GetContainingTypeLib(ITypeLib** library, UINT* index) {
  if (library) {
    library_->AddRef();
    *library = library_;
  }
  if (index) *index = index_;
  return S_OK;
}

// The readable file for a type-library name: as given, else (for a bare name) in the
// program's folder or beside zrk.
std::string library_file(LPCOLESTR file) {
  auto readable = [](const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  };
  std::u16string name(file);
  std::string direct = host_path(name);
  if (readable(direct)) return direct;
  if (name.find_first_of(u"\\/") != std::u16string::npos) return {};
  std::vector<std::string> folders;
  WCHAR program[1024];
  if (GetModuleFileNameW(nullptr, program, 1024)) {
    std::string path = host_path(program);
    size_t cut = path.find_last_of('/');
    if (cut != std::string::npos) folders.push_back(path.substr(0, cut + 1));
  }
  char executable[4096];
  ssize_t length = readlink("/proc/self/exe", executable, sizeof(executable) - 1);
  if (length > 0) {
    std::string path(executable, static_cast<size_t>(length));
    folders.push_back(path.substr(0, path.find_last_of('/') + 1));
  }
  for (const std::string& folder : folders) {
    std::string candidate = folder + utf8_from_utf16(name);
    if (readable(candidate)) return candidate;
  }
  return {};
}

}  // namespace

HRESULT create_type_library(const TypeLibrarySpec& library, ITypeLib** result) {
  if (!result) return E_INVALIDARG;
  *result = new TypeLibraryObject(library);
  return S_OK;
}

}  // namespace platform::ole

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** library) {
  if (!library) return E_INVALIDARG;
  *library = nullptr;
  if (!file || !*file) return TYPE_E_CANTLOADLIBRARY;
  std::string path = platform::ole::library_file(file);
  if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
  FILE* stream = std::fopen(path.c_str(), "rb");
  if (!stream) return TYPE_E_CANTLOADLIBRARY;
  std::vector<uint8_t> bytes;
  uint8_t chunk[8192];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), stream)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > platform::ole::kMaxFileSize) break;
  }
  std::fclose(stream);
  if (bytes.size() > platform::ole::kMaxFileSize) return TYPE_E_INVDATAREAD;
  platform::ole::TypeLibrarySpec spec;
  HRESULT result = platform::ole::read_type_library(bytes.data(), bytes.size(), &spec);
  if (FAILED(result)) return result;
  return platform::ole::create_type_library(spec, library);
}

namespace {

std::u16string type_library_key(REFGUID guid, WORD major, WORD minor) {
  WCHAR text[40];
  StringFromGUID2(guid, text, 40);
  char version[32];
  std::snprintf(version, sizeof(version), "\\%x.%x\\0\\win32", major, minor);
  return u"TypeLib\\" + std::u16string(text) + platform::utf16_from_utf8(version);
}

}  // namespace

HRESULT LoadRegTypeLib(REFGUID guid, WORD major, WORD minor, LCID, ITypeLib** library) {
  if (!library) return E_INVALIDARG;
  *library = nullptr;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, type_library_key(guid, major, minor).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return TYPE_E_LIBNOTREGISTERED;
  }
  WCHAR path[1024];
  DWORD type = 0;
  DWORD size = sizeof(path) - sizeof(WCHAR);
  LONG status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return TYPE_E_LIBNOTREGISTERED;
  path[size / sizeof(WCHAR)] = 0;
  return LoadTypeLib(path, library);
}

HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR full_path, LPCOLESTR) {
  if (!library || !full_path) return E_INVALIDARG;
  TLIBATTR* attributes = nullptr;
  HRESULT result = library->GetLibAttr(&attributes);
  if (FAILED(result)) return result;
  std::u16string path = type_library_key(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum);
  library->ReleaseTLibAttr(attributes);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return E_FAIL;
  }
  std::u16string value(full_path);
  LONG status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}
