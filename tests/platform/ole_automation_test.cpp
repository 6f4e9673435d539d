// BSTR texts, OLE dates, VARIANT conversions and copies, safe arrays and GUID texts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/ole/automation.h"
#include "platform/ole/com_runtime.h"

TEST(Bstr, CarriesItsByteLengthAndInnerZeros) {
  const char16_t units[] = {u'a', 0, u'b'};
  BSTR text = SysAllocStringLen(units, 3);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(SysStringByteLen(text), 6u);
  EXPECT_EQ(reinterpret_cast<uint32_t*>(text)[-1], 6u);
  EXPECT_EQ(text[1], 0);
  EXPECT_EQ(text[3], 0);
  SysFreeString(text);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(OleDate, CountsDaysFrom1899December30) {
  struct Case {
    SYSTEMTIME time;
    double date;
  };
  // Values as the automation date rules define them: the fraction counts forward
  // from midnight even before the epoch.
  const Case cases[] = {
      {{1899, 12, 6, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 1, 0, 0, 0, 0}, 2.0},
      {{2000, 1, 6, 1, 12, 0, 0, 0}, 36526.5},
      {{1899, 12, 5, 29, 6, 0, 0, 0}, -1.25},
      {{2024, 2, 4, 29, 13, 45, 30, 0}, 45351.0 + (13 * 3600 + 45 * 60 + 30) / 86400.0},
      {{100, 1, 5, 1, 0, 0, 0, 0}, -657434.0},
      {{9999, 12, 5, 31, 0, 0, 0, 0}, 2958465.0},
  };
  for (const Case& c : cases) {
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&c.time, &date)) << c.time.wYear;
    EXPECT_NEAR(date, c.date, 1e-9) << c.time.wYear << "-" << c.time.wMonth << "-" << c.time.wDay;
    SYSTEMTIME back{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &back));
    EXPECT_EQ(back.wYear, c.time.wYear);
    EXPECT_EQ(back.wMonth, c.time.wMonth);
    EXPECT_EQ(back.wDay, c.time.wDay);
    EXPECT_EQ(back.wDayOfWeek, c.time.wDayOfWeek) << c.time.wYear;
    EXPECT_EQ(back.wHour, c.time.wHour);
    EXPECT_EQ(back.wMinute, c.time.wMinute);
    EXPECT_EQ(back.wSecond, c.time.wSecond);
  }
  const SYSTEMTIME bad[] = {{99, 1, 0, 1, 0, 0, 0, 0}, {2023, 2, 0, 29, 0, 0, 0, 0}, {2024, 13, 0, 1, 0, 0, 0, 0},
                            {2024, 1, 0, 1, 24, 0, 0, 0}};
  for (const SYSTEMTIME& time : bad) {
    DATE date = 0;
    EXPECT_FALSE(SystemTimeToVariantTime(&time, &date)) << time.wYear << "-" << time.wMonth;
  }
  SYSTEMTIME out{};
  EXPECT_FALSE(VariantTimeToSystemTime(3e6, &out));
  EXPECT_FALSE(VariantTimeToSystemTime(NAN, &out));
}

namespace {

VARIANT number(VARTYPE type, double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  switch (type) {
    case VT_I2: v.iVal = static_cast<int16_t>(value); break;
    case VT_I4: v.lVal = static_cast<int32_t>(value); break;
    case VT_R4: v.fltVal = static_cast<float>(value); break;
    case VT_BOOL: v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_CY: v.cyVal.int64 = static_cast<int64_t>(value * 10000); break;
    default: v.dblVal = value; break;
  }
  return v;
}

std::string text_of(const VARIANT& v) {
  std::string result;
  for (UINT i = 0; i < SysStringLen(v.bstrVal); ++i) result += static_cast<char>(v.bstrVal[i]);
  return result;
}

}  // namespace

TEST(VariantChangeType, ConvertsNumbersTextsAndBooleans) {
  struct ToText {
    VARTYPE type;
    double value;
    const char* text;
  };
  const ToText to_text[] = {{VT_I4, -42, "-42"}, {VT_I2, 7, "7"},      {VT_R8, 2.5, "2.5"},
                            {VT_R4, 0.1, "0.1"}, {VT_BOOL, 1, "True"}, {VT_BOOL, 0, "False"},
                            {VT_CY, 1.5, "1.5"}, {VT_CY, -0.25, "-0.25"}};
  for (const ToText& c : to_text) {
    VARIANT source = number(c.type, c.value);
    VARIANT target;
    VariantInit(&target);
    ASSERT_EQ(VariantChangeType(&target, &source, 0, VT_BSTR), S_OK) << c.text;
    EXPECT_EQ(text_of(target), c.text);
    VariantClear(&target);
  }
  struct FromText {
    const char16_t* text;
    VARTYPE type;
    HRESULT result;
    double value;
  };
  const FromText from_text[] = {
      {u"12", VT_I4, S_OK, 12},       {u" -3 ", VT_I2, S_OK, -3},         {u"2.5", VT_I4, S_OK, 2},
      {u"3.5", VT_I4, S_OK, 4},       {u"1.25", VT_CY, S_OK, 12500},      {u"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"", VT_R8, DISP_E_TYPEMISMATCH, 0}, {u"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"70000", VT_I2, DISP_E_OVERFLOW, 0}, {u"300", VT_UI1, DISP_E_OVERFLOW, 0}, {u"-1", VT_BOOL, S_OK, -1},
  };
  for (const FromText& c : from_text) {
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(c.text);
    VARIANT target;
    VariantInit(&target);
    EXPECT_EQ(VariantChangeType(&target, &source, 0, c.type), c.result) << static_cast<int>(c.type);
    if (c.result == S_OK) {
      double got = c.type == VT_I4 ? target.lVal : c.type == VT_I2 ? target.iVal
                   : c.type == VT_CY ? static_cast<double>(target.cyVal.int64) : c.type == VT_BOOL ? target.boolVal
                                                                                                 : target.dblVal;
      EXPECT_EQ(got, c.value);
    } else {
      EXPECT_EQ(target.vt, VT_EMPTY);
    }
    VariantClear(&source);
    VariantClear(&target);
  }
  // In place: the text is replaced by the number.
  VARIANT in_place;
  VariantInit(&in_place);
  in_place.vt = VT_BSTR;
  in_place.bstrVal = SysAllocString(u"8");
  ASSERT_EQ(VariantChangeType(&in_place, &in_place, 0, VT_R8), S_OK);
  EXPECT_EQ(in_place.vt, VT_R8);
  EXPECT_EQ(in_place.dblVal, 8.0);
}

TEST(VariantCopy, DuplicatesTextsAndArrays) {
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocString(u"copy me");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(text_of(copy), "copy me");
  VariantClear(&source);
  EXPECT_EQ(text_of(copy), "copy me");
  VariantClear(&copy);

  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(array, nullptr);
  static_cast<BSTR*>(array->pvData)[1] = SysAllocString(u"x");
  source.vt = VT_ARRAY | VT_BSTR;
  source.parray = array;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(copy.parray, array);
  EXPECT_NE(static_cast<BSTR*>(copy.parray->pvData)[1], static_cast<BSTR*>(array->pvData)[1]);
  VariantClear(&source);
  VariantClear(&copy);
}

TEST(SafeArray, BoundsLocksAndRefusals) {
  SAFEARRAYBOUND bounds[2] = {{3, -1}, {2, 5}};
  SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(array, nullptr);
  LONG low = 0, high = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
  EXPECT_EQ(low, -1);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &high), S_OK);
  EXPECT_EQ(high, 6);
  EXPECT_EQ(SafeArrayGetLBound(array, 3, &low), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetDim(array), 2u);
  VARTYPE type = 0;
  EXPECT_EQ(SafeArrayGetVartype(array, &type), S_OK);
  EXPECT_EQ(type, VT_I4);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  SAFEARRAYBOUND huge = {0x40000000u, 0};
  EXPECT_EQ(SafeArrayCreate(VT_R8, 1, &huge), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_USERDEFINED, 1, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, bounds), nullptr);
}

TEST(GuidText, ReadsOnlyTheBracedForm) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(u"{5a4b0002-1111-4C0D-9E00-00000000C0DE}", &clsid), S_OK);
  EXPECT_EQ(clsid.Data1, 0x5A4B0002u);
  EXPECT_EQ(clsid.Data4[7], 0xDE);
  WCHAR text[39];
  EXPECT_EQ(StringFromGUID2(clsid, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{5A4B0002-1111-4C0D-9E00-00000000C0DE}");
  EXPECT_EQ(StringFromGUID2(clsid, text, 38), 0);
  const char16_t* bad[] = {u"", u"5A4B0002-1111-4C0D-9E00-00000000C0DE", u"{5A4B0002-1111-4C0D-9E00-00000000C0DE",
                           u"{5A4B0002-1111-4C0D-9E00-00000000C0DE}x", u"{5A4B0002-1111-4C0D-9E0000000000C0DE}",
                           u"{5A4B000G-1111-4C0D-9E00-00000000C0DE}", u"{5A4B0002-1111-4C0D-9E00-00000000C0D}"};
  for (const char16_t* text_case : bad) {
    EXPECT_EQ(CLSIDFromString(text_case, &clsid), CO_E_CLASSSTRING) << std::string(text_case, text_case + 5).size();
  }
}
