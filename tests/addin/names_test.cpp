// Name tables and the lookup methods of the host interface.
#include "tests/support/component_test.hpp"

namespace vtsd::testing {
namespace {

using NamesTest = ComponentTest;

TEST_F(NamesTest, FindsEveryPropertyAndMethodByEitherName) {
  long count = 0;
  EXPECT_EQ(component.GetNProps(count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(component.GetNMethods(count), 0);
  EXPECT_EQ(count, 14);

  for (long i = 0; i < kPropertyCount; ++i) {
    for (long alias : {0L, 1L}) {
      std::string name;
      ASSERT_EQ(component.GetPropName(i, alias, name), 0);
      long found = -2;
      EXPECT_EQ(component.FindProp(name, found), 0) << name;
      EXPECT_EQ(found, i) << name;
    }
  }
  for (long i = 0; i < kMethodCount; ++i) {
    for (long alias : {0L, 1L}) {
      std::string name;
      ASSERT_EQ(component.GetMethodName(i, alias, name), 0);
      long found = -2;
      EXPECT_EQ(component.FindMethod(name, found), 0) << name;
      EXPECT_EQ(found, i) << name;
    }
  }
}

TEST_F(NamesTest, TablesHoldTheHostNames) {
  struct Row {
    long number;
    const char* en;
    const char* ru;
    long params;
  };
  const Row methods[] = {
      {0, "Open", "Подключить", 1},
      {1, "Close", "Отключить", 1},
      {2, "DeviceTest", "ТестУстройства", 2},
      {3, "GetVersion", "ПолучитьНомерВерсии", 0},
      {4, "GetDescription", "ПолучитьОписание", 7},
      {5, "GetLastError", "ПолучитьОшибку", 1},
      {6, "GetParameters", "ПолучитьПараметры", 1},
      {7, "SetParameter", "УстановитьПараметр", 2},
      {8, "GetAdditionalActions", "ПолучитьДополнительныеДействия", 1},
      {9, "DoAdditionalAction", "ВыполнитьДополнительноеДействие", 1},
      {10, "UploadTable", "ВыгрузитьТаблицу", 3},
      {11, "DownloadTable", "ЗагрузитьТаблицу", 2},
      {12, "UnloadTaskForSelection", "ВыгрузитьЗадачуДляПодбора", 2},
      {13, "ClearTable", "ОчиститьТаблицу", 1},
  };
  for (const Row& r : methods) {
    std::string en, ru;
    long count = -1;
    EXPECT_EQ(component.GetMethodName(r.number, 0, en), 0);
    EXPECT_EQ(component.GetMethodName(r.number, 1, ru), 0);
    EXPECT_EQ(component.GetNParams(r.number, count), 0);
    EXPECT_EQ(en, r.en);
    EXPECT_EQ(ru, r.ru);
    EXPECT_EQ(count, r.params) << r.en;
  }
  const Row props[] = {
      {0, "propIpAdress", "ИПАдрес", 0},
      {1, "propPortNumber", "НомерПорта", 0},
      {2, "propTimeOut", "ВремяОжидания", 0},
      {3, "propChooseDownloadSource", "ВыбиратьИсточникЗагрузки", 0},
  };
  for (const Row& r : props) {
    std::string en, ru;
    EXPECT_EQ(component.GetPropName(r.number, 0, en), 0);
    EXPECT_EQ(component.GetPropName(r.number, 1, ru), 0);
    EXPECT_EQ(en, r.en);
    EXPECT_EQ(ru, r.ru);
  }
  std::string name;
  EXPECT_EQ(component.RegisterExtensionAs(name), 0);
  EXPECT_EQ(name, "VemlarTSD");
}

TEST_F(NamesTest, LookupIsExactAndCaseSensitive) {
  struct Case {
    const char* name;
    long method;  // -1: no match
  };
  const Case cases[] = {
      {"Open", 0},        {"Подключить", 0},     {"open", -1},          {"OPEN", -1},
      {"", -1},           {"Open ", -1},         {" Open", -1},         {"Ope", -1},
      {"ClearTable", 13}, {"очиститьТаблицу", -1}, {"propIpAdress", -1},
  };
  for (const Case& c : cases) {
    long found = 99;
    EXPECT_EQ(component.FindMethod(c.name, found), c.method < 0 ? 1 : 0) << c.name;
    EXPECT_EQ(found, c.method) << c.name;
  }
  long found = 99;
  EXPECT_EQ(component.FindProp("ВыбиратьИсточникЗагрузки", found), 0);
  EXPECT_EQ(found, 3);
  EXPECT_EQ(component.FindProp("", found), 1);
  EXPECT_EQ(found, -1);
  EXPECT_EQ(component.FindProp("Open", found), 1);
  EXPECT_EQ(found, -1);
  EXPECT_EQ(component.FindProp(std::string(100000, 'x'), found), 1);
  EXPECT_EQ(found, -1);
}

TEST_F(NamesTest, NumbersAndAliasesOutsideTheTablesAnswerFalse) {
  struct Case {
    bool property;
    long number;
    long alias;
  };
  const Case cases[] = {
      {true, 4, 0},   {true, -1, 0},  {true, 0, 2},   {true, 0, -1},
      {false, 14, 1}, {false, -1, 0}, {false, 0, 2},  {false, 13, 7},
  };
  for (const Case& c : cases) {
    std::string name = "left over";
    const long hr = c.property ? component.GetPropName(c.number, c.alias, name)
                               : component.GetMethodName(c.number, c.alias, name);
    EXPECT_EQ(hr, 1) << c.property << " " << c.number << " " << c.alias;
    EXPECT_EQ(name, "") << "the out name is emptied first";
  }

  long count = 55;
  EXPECT_EQ(component.GetNParams(14, count), 1);
  EXPECT_EQ(count, 0);
  count = 55;
  EXPECT_EQ(component.GetNParams(-3, count), 1);
  EXPECT_EQ(count, 0);

  for (long n : {-1L, 4L, 1000L}) {
    bool flag = false;
    EXPECT_EQ(component.IsPropReadable(n, flag), 1);
    EXPECT_FALSE(flag) << "not written";
    EXPECT_EQ(component.IsPropWritable(n, flag), 1);
    EXPECT_FALSE(flag) << "not written";
  }
  for (long n = 0; n < kPropertyCount; ++n) {
    bool r = false, w = false;
    EXPECT_EQ(component.IsPropReadable(n, r), 0);
    EXPECT_EQ(component.IsPropWritable(n, w), 0);
    EXPECT_TRUE(r && w);
  }
}

TEST_F(NamesTest, EveryMethodHasARetValAndNoProcedureRuns) {
  for (long m : {0L, 5L, 13L, 14L, 99L, -1L}) {
    bool has = false;
    EXPECT_EQ(component.HasRetVal(m, has), 0);
    EXPECT_TRUE(has) << m;
  }
  // CallAsProc refuses even a method that would write its parameter.
  VectorParams params(7);
  EXPECT_EQ(component.CallAsProc(kGetDescription, params), 1);
  for (const Value& v : params.values) EXPECT_TRUE(v.IsEmpty());

  Value def = Value::Text("x");
  EXPECT_EQ(component.GetParamDefValue(7, 1, def), 0);
  EXPECT_TRUE(def.IsEmpty());
  def = Value::Int(3);
  EXPECT_EQ(component.GetParamDefValue(99, -4, def), 0);
  EXPECT_TRUE(def.IsEmpty());
}

}  // namespace
}  // namespace vtsd::testing
