// Script values to VARIANT arguments and VARIANT results back: the types a member
// declares, the tags a script forces, omitted arguments, scaled currency, booleans,
// references, and the calls that are refused.
#include <cstdlib>
#include <cstring>
#include <string>

#include "builtin_fixture.h"
#include "library/com/com_builtins.h"
#include "library/com/variant_conversion.h"
#include "platform/kernel/utf.h"
#include "platform/ole/automation.h"

namespace {

class ComVariantTest : public BuiltinTest {
 protected:
  ComVariantTest() : BuiltinTest(register_com_builtins) {}

  void TearDown() override {
    if (entry_.parameter_types) std::free(entry_.parameter_types);
    BuiltinTest::TearDown();
  }

  // A wrapper whose only member declares these parameter types.
  ComDispatchObject* wrapper_with(std::initializer_list<VARTYPE> types) {
    if (entry_.parameter_types) std::free(entry_.parameter_types);
    entry_ = {};
    entry_.invoke_kind = 1;
    entry_.parameter_count = static_cast<int32_t>(types.size());
    entry_.parameter_types = static_cast<VARTYPE*>(std::calloc(types.size() + 1, sizeof(VARTYPE)));
    size_t i = 0;
    for (VARTYPE type : types) entry_.parameter_types[i++] = type;
    wrapper_ = {};
    wrapper_.member_count = 1;
    wrapper_.member_table = &entry_;
    return &wrapper_;
  }

  static ValueCell number_cell(double number, uint16_t tag = 0) {
    ValueCell cell{};
    cell.number = number;
    cell.variant_type = tag;
    return cell;
  }
  static ValueCell text_cell(const char* text, uint16_t tag = 0) {
    ValueCell cell{};
    cell.text = const_cast<char*>(text);
    cell.variant_type = tag;
    return cell;
  }

  ComMemberEntry entry_{};
  ComDispatchObject wrapper_{};
};

}  // namespace

TEST_F(ComVariantTest, ArgumentsTakeTheDeclaredOrTheForcedType) {
  ComDispatchObject* wrapper = wrapper_with({VT_I2, VT_I4, VT_R4, VT_CY, VT_BOOL, VT_BOOL, VT_UI1, VT_VARIANT,
                                             VT_VARIANT, VT_BSTR, VT_I4, VT_I4, VT_R8});
  ValueCell cells[] = {number_cell(-70000.9), number_cell(1e10),      number_cell(0.1),
                       number_cell(1.5),      number_cell(1),         number_cell(0),
                       number_cell(300),      text_cell("words"),     number_cell(2.75),
                       number_cell(12.5),     number_cell(5, VT_BSTR), number_cell(9, VT_NULL),
                       text_cell("2.5")};
  ValueCell* pointers[std::size(cells)];
  for (size_t i = 0; i < std::size(cells); ++i) pointers[i] = &cells[i];
  ComArgumentBlock arguments;
  ASSERT_EQ(script_args_to_variants(pointers, static_cast<int32_t>(std::size(cells)), wrapper, 0, &arguments), 13);
  const VARIANT* v = arguments.working;
  EXPECT_EQ(v[0].vt, VT_I2);
  EXPECT_EQ(v[0].iVal, static_cast<int16_t>(-70000));
  EXPECT_EQ(v[1].vt, VT_I4);
  EXPECT_EQ(v[2].fltVal, 0.1f);
  // Currency is scaled: 1.5 travels as 15000.
  EXPECT_EQ(v[3].cyVal.int64, 15000);
  // True is VARIANT_TRUE.
  EXPECT_EQ(v[4].boolVal, VARIANT_TRUE);
  EXPECT_EQ(v[5].boolVal, VARIANT_FALSE);
  EXPECT_EQ(v[6].bVal, 44);
  EXPECT_EQ(v[7].vt, VT_BSTR);
  EXPECT_EQ(platform::utf8_from_utf16(v[7].bstrVal), "words");
  EXPECT_EQ(v[8].vt, VT_I4);
  EXPECT_EQ(v[8].lVal, 2);
  EXPECT_EQ(v[9].vt, VT_BSTR);
  EXPECT_EQ(platform::utf8_from_utf16(v[9].bstrVal), "12.5");
  // A forced type wins over the declared one and is used up.
  EXPECT_EQ(v[10].vt, VT_BSTR);
  EXPECT_EQ(platform::utf8_from_utf16(v[10].bstrVal), "5");
  EXPECT_EQ(cells[10].variant_type, 0);
  // VT_NULL sends an omitted argument; so does a missing one.
  EXPECT_EQ(v[11].vt, VT_ERROR);
  EXPECT_EQ(v[11].scode, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(v[12].vt, VT_R8);
  EXPECT_EQ(v[12].dblVal, 2.5);
  EXPECT_EQ(std::memcmp(arguments.block, arguments.working, 13 * sizeof(VARIANT)), 0);
  free_argument_block(&arguments);

  // References take the address: the number, else the data word, else the text.
  ValueCell by_data = number_cell(0);
  by_data.data = 0x123450;
  ValueCell by_text = text_cell("buffer");
  ValueCell by_number = number_cell(0x54320);
  ValueCell* references[] = {&by_data, &by_text, &by_number};
  ASSERT_EQ(script_args_to_variants(references, 3, wrapper_with({VT_BYREF | VT_I4, VT_BYREF | VT_R8, VT_ARRAY | VT_BSTR}),
                                    0, &arguments),
            3);
  EXPECT_EQ(platform::address_of(arguments.working[0].byref), 0x123450u);
  EXPECT_EQ(arguments.working[1].byref, by_text.text);
  EXPECT_EQ(platform::address_of(arguments.working[2].parray), 0x54320u);
  free_argument_block(&arguments);

  ASSERT_EQ(script_args_to_variants(pointers, 1, wrapper_with({VT_I4, VT_BSTR}), 0, &arguments), 2);
  EXPECT_EQ(arguments.working[1].vt, VT_ERROR);
  EXPECT_EQ(arguments.working[1].scode, DISP_E_PARAMNOTFOUND);
  free_argument_block(&arguments);
}

TEST_F(ComVariantTest, RefusedCallsLeaveTheReasonAndNoArguments) {
  ComArgumentBlock arguments;
  ValueCell zero = number_cell(0);
  ValueCell low = number_cell(4096);
  ValueCell* cells[] = {&zero};
  ComDispatchObject* wrapper = wrapper_with({VT_DATE});
  EXPECT_EQ(script_args_to_variants(cells, 1, wrapper, 0, &arguments), -1);
  EXPECT_EQ(wrapper->last_result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arguments.block, nullptr);
  cells[0] = &low;
  EXPECT_EQ(script_args_to_variants(cells, 1, wrapper, 0, &arguments), -1);
  // A date that is no date.
  SYSTEMTIME* bad = static_cast<SYSTEMTIME*>(std::calloc(1, sizeof(SYSTEMTIME)));
  ValueCell at_bad = number_cell(platform::address_of(bad));
  cells[0] = &at_bad;
  EXPECT_EQ(script_args_to_variants(cells, 1, wrapper, 0, &arguments), -1);
  std::free(bad);

  wrapper = wrapper_with({VT_I4});
  entry_.parameter_count = kMaxComArguments + 1;
  EXPECT_EQ(script_args_to_variants(cells, 1, wrapper, 0, &arguments), -1);
  EXPECT_EQ(wrapper->last_result, DISP_E_BADPARAMCOUNT);
  entry_.parameter_count = 1;
  EXPECT_EQ(script_args_to_variants(cells, kMaxComArguments + 1, wrapper, 0, &arguments), -1);
  EXPECT_EQ(wrapper->last_result, DISP_E_BADPARAMCOUNT);
}

TEST_F(ComVariantTest, ResultsBecomeNumbers) {
  int16_t short_value = -5;
  int32_t long_value = 123456;
  float float_value = 0.5f;
  double double_value = -2.25;
  CY currency{};
  currency.int64 = 25000;
  uint8_t byte_value = 200;
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_I2;
  inner.iVal = 77;
  struct Case {
    const char* what;
    VARTYPE type;
    void* reference;
    double number;
  };
  const Case by_reference[] = {
      {"I2", VT_BYREF | VT_I2, &short_value, -5},       {"I4", VT_BYREF | VT_I4, &long_value, 123456},
      {"R4", VT_BYREF | VT_R4, &float_value, 0.5},      {"R8", VT_BYREF | VT_R8, &double_value, -2.25},
      {"CY", VT_BYREF | VT_CY, &currency, 2.5},         {"UI1", VT_BYREF | VT_UI1, &byte_value, 200},
      {"BOOL", VT_BYREF | VT_BOOL, &short_value, -5},   {"VARIANT", VT_BYREF | VT_VARIANT, &inner, 77},
      {"null reference", VT_BYREF | VT_I4, nullptr, 0},
  };
  for (const Case& c : by_reference) {
    VARIANT value;
    VariantInit(&value);
    value.vt = c.type;
    value.byref = c.reference;
    EXPECT_EQ(variant_to_script_value(&value), c.number) << c.what;
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  EXPECT_EQ(variant_to_script_value(&value), 1);
  value.vt = VT_CY;
  value.cyVal.int64 = -15000;
  EXPECT_EQ(variant_to_script_value(&value), -1.5);
  value.vt = VT_DATE;
  value.date = 45351.5;
  EXPECT_EQ(variant_to_script_value(&value), 45351.5);
  value.vt = VT_NULL;
  EXPECT_EQ(variant_to_script_value(&value), 0);
  // A reference to a variant that refers to itself ends.
  VARIANT self;
  self.vt = VT_BYREF | VT_VARIANT;
  self.pvarVal = &self;
  value.vt = VT_BYREF | VT_VARIANT;
  value.pvarVal = &self;
  EXPECT_EQ(variant_to_script_value(&value), 0);
}
