// The Native API adapter called through its interface tables, as the
// platform calls it, with a memory manager of the test's that records every
// block: texts and values come from the platform's memory and nothing else,
// values convert as the COM adapter converts them, and no failure escapes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "addin/names.hpp"
#include "base/settings.hpp"
#include "hosts/native/abi.hpp"
#include "hosts/native/native_object.hpp"
#include "hosts/native/native_value.hpp"
#include "platform/utf16.hpp"

extern "C" long GetClassObject(const char16_t* name, vtsd::native::NativeFaces** object);
extern "C" long DestroyObject(vtsd::native::NativeFaces** object);
extern "C" const char16_t* GetClassNames();

namespace vtsd::native {
namespace {

// The platform's memory manager of these tests.
struct Ledger {
  const MemoryManagerTable* table = &kTable;
  std::map<void*, unsigned long> live;
  int bad_frees = 0;

  static bool VTSD_NATIVE_CALL Alloc(void* self, void** memory, unsigned long bytes) {
    *memory = std::calloc(1, bytes);
    static_cast<Ledger*>(self)->live[*memory] = bytes;
    return *memory != nullptr;
  }
  static void VTSD_NATIVE_CALL Free(void* self, void** memory) {
    auto& live = static_cast<Ledger*>(self)->live;
    if (live.erase(*memory) == 0) {
      ++static_cast<Ledger*>(self)->bad_frees;
      return;
    }
    std::free(*memory);
    *memory = nullptr;
  }
  static const MemoryManagerTable kTable;

  bool Owns(const void* p) const { return live.count(const_cast<void*>(p)) != 0; }
  // Reads a text the component handed over and frees it, as the platform does.
  std::string Take(const NativeChar* text) {
    EXPECT_TRUE(Owns(text)) << "a text not from the platform's memory";
    std::u16string copy(text);
    void* p = const_cast<NativeChar*>(text);
    Free(this, &p);
    return platform::Utf8FromUtf16(copy);
  }
};
const MemoryManagerTable Ledger::kTable = {{}, &Ledger::Alloc, &Ledger::Free};

// A text the platform passes; `text` must outlive the value.
NativeValue Text(std::u16string&&) = delete;
NativeValue Text(const std::u16string& text) {
  NativeValue v{};
  v.vt = kTypePwstr;
  v.wstr.chars = const_cast<NativeChar*>(text.c_str());
  v.wstr.length = static_cast<uint32_t>(text.size());
  return v;
}

class NativeObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetClassObject(u"VemlarTSD", &object_), 0);
    ASSERT_TRUE(object_->init_done->setMemManager(Face(0), &ledger_));
    ASSERT_TRUE(object_->init_done->Init(Face(0), &connection_));
  }
  void TearDown() override {
    object_->init_done->Done(Face(0));
    EXPECT_EQ(DestroyObject(&object_), 0);
    EXPECT_EQ(object_, nullptr);
    // Whatever the component handed over has been freed by the test.
    EXPECT_TRUE(ledger_.live.empty()) << ledger_.live.size() << " block(s) left";
    EXPECT_EQ(ledger_.bad_frees, 0);
    ConnectionSettings() = ConnectionSettingsRecord{};
  }
  void* Face(int n) { return reinterpret_cast<char*>(object_) + n * sizeof(void*); }
  const LanguageExtenderTable& Language() { return *object_->language; }

  // The string a value holds, freed through the ledger when it is the component's.
  std::string TakeValueText(NativeValue& v) {
    EXPECT_EQ(v.vt, kTypePwstr);
    if (v.vt != kTypePwstr) return std::string();
    EXPECT_EQ(std::u16string(v.wstr.chars).size(), v.wstr.length);
    return ledger_.Take(v.wstr.chars);
  }

  NativeFaces* object_ = nullptr;
  Ledger ledger_;
  int connection_ = 0;
};

TEST_F(NativeObjectTest, NamesComeFromThePlatformsMemory) {
  NativeChar* extension = nullptr;
  ASSERT_TRUE(Language().RegisterExtensionAs(Face(1), &extension));
  EXPECT_EQ(ledger_.Take(extension), "VemlarTSD");

  EXPECT_EQ(Language().GetNMethods(Face(1)), kMethodCount);
  EXPECT_EQ(Language().GetNProps(Face(1)), kPropertyCount);
  EXPECT_EQ(ledger_.Take(Language().GetMethodName(Face(1), kUploadTable, 1)), "ВыгрузитьТаблицу");
  EXPECT_EQ(ledger_.Take(Language().GetMethodName(Face(1), kUploadTable, 0)), "UploadTable");
  EXPECT_EQ(ledger_.Take(Language().GetPropName(Face(1), kPropTimeOut, 1)), "ВремяОжидания");
  EXPECT_EQ(Language().GetMethodName(Face(1), kMethodCount, 0), nullptr);
  EXPECT_EQ(Language().GetPropName(Face(1), -1, 0), nullptr);

  EXPECT_EQ(Language().FindMethod(Face(1), u"ОчиститьТаблицу"), kClearTable);
  EXPECT_EQ(Language().FindProp(Face(1), u"propPortNumber"), kPropPortNumber);
  EXPECT_EQ(Language().FindMethod(Face(1), u"cleartable"), -1);
  EXPECT_EQ(Language().FindProp(Face(1), nullptr), -1);
  EXPECT_EQ(Language().GetNParams(Face(1), kGetDescription), 7);
  EXPECT_TRUE(Language().HasRetVal(Face(1), kOpen));
  EXPECT_EQ(object_->init_done->GetInfo(Face(0)), 2000);
}

TEST_F(NativeObjectTest, CallAsFuncFillsParametersAndTheReturnValue) {
  object_->locale->SetLocale(Face(2), u"en_US");
  std::vector<NativeValue> params(7);
  NativeValue ret{};
  ASSERT_TRUE(Language().CallAsFunc(Face(1), kGetDescription, &ret, params.data(), 7));
  EXPECT_EQ(ret.vt, kTypeI4);
  EXPECT_EQ(ret.i4, 1);
  EXPECT_EQ(TakeValueText(params[0]), "Vemlar ТСД");
  TakeValueText(params[1]);
  EXPECT_EQ(TakeValueText(params[2]), "ТерминалСбораДанных");
  EXPECT_EQ(TakeValueText(params[3]), "1002");
  EXPECT_EQ(params[4].vt, kTypeBool);
  EXPECT_TRUE(params[5].boolean);
  EXPECT_EQ(TakeValueText(params[6]), "");

  // A failed method: return value 0 and false, its message in GetLastError.
  const std::u16string x = u"x";
  NativeValue action = Text(x);
  ASSERT_FALSE(Language().CallAsFunc(Face(1), kDoAdditionalAction, &ret, &action, 1) &&
               ret.vt == kTypeI4 && ret.i4 != 0);
  EXPECT_EQ(ret.i4, 0);
  NativeValue message{};
  ASSERT_TRUE(Language().CallAsFunc(Face(1), kGetLastError, &ret, &message, 1));
  EXPECT_EQ(ret.i4, 10);
  EXPECT_EQ(TakeValueText(message), "Additional actions are not supported by the driver.");
  // An unknown method number is refused without touching anything.
  EXPECT_FALSE(Language().CallAsFunc(Face(1), kMethodCount, &ret, nullptr, 0));
  EXPECT_FALSE(Language().CallAsProc(Face(1), kOpen, nullptr, 0));
}

TEST_F(NativeObjectTest, PropertiesTakeAndGiveTexts) {
  const std::u16string address = u"127.0.0.1";
  NativeValue v = Text(address);
  ASSERT_TRUE(Language().SetPropVal(Face(1), kPropIpAdress, &v));
  // The platform's own text is left as it was.
  EXPECT_EQ(v.wstr.chars, address.c_str());
  NativeValue out{};
  ASSERT_TRUE(Language().GetPropVal(Face(1), kPropIpAdress, &out));
  EXPECT_EQ(TakeValueText(out), "127.0.0.1");

  NativeValue flag{};
  flag.vt = kTypeBool;
  flag.boolean = true;
  ASSERT_TRUE(Language().SetPropVal(Face(1), kPropChooseDownloadSource, &flag));
  ASSERT_TRUE(Language().GetPropVal(Face(1), kPropChooseDownloadSource, &out));
  EXPECT_EQ(out.vt, kTypeBool);
  EXPECT_TRUE(out.boolean);

  // A port that is no number is refused and reported in GetLastError; the
  // call itself succeeds, as through COM, so 1C raises no exception of its own.
  const std::u16string port_text = u"port";
  NativeValue port = Text(port_text);
  EXPECT_TRUE(Language().SetPropVal(Face(1), kPropPortNumber, &port));
  NativeValue ret{};
  NativeValue message{};
  ASSERT_TRUE(Language().CallAsFunc(Face(1), kGetLastError, &ret, &message, 1));
  EXPECT_EQ(ret.i4, 8);
  EXPECT_FALSE(TakeValueText(message).empty());
  EXPECT_TRUE(Language().IsPropWritable(Face(1), kPropTimeOut));
  EXPECT_FALSE(Language().IsPropReadable(Face(1), kPropertyCount));
}

TEST(NativeValueTest, ValuesConvertAsTheComAdapterConverts) {
  NativeValue v{};
  auto as = [&](uint16_t vt) -> NativeValue& {
    std::memset(&v, 0, sizeof v);
    v.vt = vt;
    return v;
  };
  as(kTypeI2).i2 = -7;
  EXPECT_EQ(ValueFromNative(v), Value::Int(-7));
  as(kTypeI8).i8 = int64_t{1} << 40;
  EXPECT_EQ(ValueFromNative(v), Value::Double(1099511627776.0));
  as(kTypeUi4).ui4 = 4000000000u;
  EXPECT_EQ(ValueFromNative(v), Value::Double(4000000000.0));
  as(kTypeR4).r4 = 0.5f;
  EXPECT_EQ(ValueFromNative(v), Value::Double(0.5));
  as(kTypeBool).boolean = true;
  EXPECT_EQ(ValueFromNative(v), Value::Bool(true));
  as(kTypeNull);
  EXPECT_EQ(ValueFromNative(v), Value());
  char bytes[] = "abc";
  as(kTypePstr).str.bytes = bytes;
  v.str.length = 2;
  EXPECT_EQ(ValueFromNative(v), Value::Text("ab"));
  as(kTypePwstr);
  EXPECT_EQ(ValueFromNative(v), Value::Text(""));
  for (uint16_t vt : {uint16_t(kTypeBlob), uint16_t(kTypeInterface), uint16_t(kTypeI4 | kTypeArray)}) {
    as(vt);
    EXPECT_EQ(ValueFromNative(v).kind(), Value::Kind::Object) << vt;
  }
  // A reference is followed; one that points nowhere has no text form.
  NativeValue target{};
  target.vt = kTypeI4;
  target.i4 = 42;
  as(kTypeVariant | kTypeByRef).value = &target;
  EXPECT_EQ(ValueFromNative(v), Value::Int(42));
  as(kTypeVariant | kTypeByRef);
  EXPECT_EQ(ValueFromNative(v).kind(), Value::Kind::Object);

  // A struct tm becomes the OLE date a COM host passes.
  struct tm evening {};
  evening.tm_year = 2026 - 1900;
  evening.tm_mon = 11;
  evening.tm_mday = 10;
  evening.tm_hour = 18;
  EXPECT_DOUBLE_EQ(OleDateFromTm(evening), 46366.75);
  struct tm before {};
  before.tm_year = -1;
  before.tm_mon = 11;
  before.tm_mday = 29;
  before.tm_hour = 6;
  EXPECT_DOUBLE_EQ(OleDateFromTm(before), -1.25);
}

TEST(NativeValueTest, ATextWrittenTwiceFreesTheFirstButNeverThePlatformsOwn) {
  Ledger ledger;
  PlatformMemory memory;
  memory.Use(reinterpret_cast<MemoryManager*>(&ledger));
  const std::u16string platform_text = u"in";
  std::vector<NativeValue> params = {Text(platform_text), NativeValue{}};
  {
    NativeParams array(params.data(), 2, memory);
    EXPECT_EQ(array.Read(0), Value::Text("in"));
    array.Write(0, Value::Text("first"));
    array.Write(0, Value::Text("second"));
    array.Write(1, Value::Int(3));
    array.Write(5, Value::Text("outside"));  // past the end: ignored
  }
  EXPECT_EQ(ledger.live.size(), 1u);
  EXPECT_EQ(ledger.bad_frees, 0);
  EXPECT_EQ(ledger.Take(params[0].wstr.chars), "second");
  EXPECT_EQ(params[1].vt, kTypeI4);

  // Without a manager nothing can be handed over: the text stays empty.
  PlatformMemory none;
  NativeValue out{};
  EXPECT_FALSE(StoreNative(Value::Text("x"), &out, none));
  EXPECT_EQ(out.vt, kTypeEmpty);
}

TEST(NativeExportsTest, OneClassCreatedOnlyInAnEmptySlot) {
  EXPECT_EQ(std::u16string(GetClassNames()), u"VemlarTSD");
  NativeFaces* object = nullptr;
  EXPECT_EQ(GetClassObject(u"Other", &object), 0);
  EXPECT_EQ(GetClassObject(nullptr, &object), 0);
  EXPECT_EQ(object, nullptr);
  ASSERT_NE(GetClassObject(u"VemlarTSD", &object), 0);
  NativeFaces* kept = object;
  EXPECT_EQ(GetClassObject(u"VemlarTSD", &object), 0);
  EXPECT_EQ(object, kept);
  EXPECT_EQ(DestroyObject(&object), 0);
  EXPECT_EQ(DestroyObject(&object), -1);
  EXPECT_EQ(DestroyObject(nullptr), -1);
}

}  // namespace
}  // namespace vtsd::native
