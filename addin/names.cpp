#include "addin/names.hpp"

namespace vtsd {

const PropertyName kPropertyNames[kPropertyCount] = {
    {"propIpAdress", "ИПАдрес"},
    {"propPortNumber", "НомерПорта"},
    {"propTimeOut", "ВремяОжидания"},
    {"propChooseDownloadSource", "ВыбиратьИсточникЗагрузки"},
};

const MethodName kMethodNames[kMethodCount] = {
    {"Open", "Подключить", 1},
    {"Close", "Отключить", 1},
    {"DeviceTest", "ТестУстройства", 2},
    {"GetVersion", "ПолучитьНомерВерсии", 0},
    {"GetDescription", "ПолучитьОписание", 7},
    {"GetLastError", "ПолучитьОшибку", 1},
    {"GetParameters", "ПолучитьПараметры", 1},
    {"SetParameter", "УстановитьПараметр", 2},
    {"GetAdditionalActions", "ПолучитьДополнительныеДействия", 1},
    {"DoAdditionalAction", "ВыполнитьДополнительноеДействие", 1},
    {"UploadTable", "ВыгрузитьТаблицу", 3},
    {"DownloadTable", "ЗагрузитьТаблицу", 2},
    {"UnloadTaskForSelection", "ВыгрузитьЗадачуДляПодбора", 2},
    {"ClearTable", "ОчиститьТаблицу", 1},
};

namespace {
template <typename Row, int N>
int FindByName(const Row (&rows)[N], const std::string& name) {
  for (int i = 0; i < N; ++i) {
    if (name == rows[i].en || name == rows[i].ru) return i;
  }
  return -1;
}
}  // namespace

int FindPropertyByName(const std::string& name) { return FindByName(kPropertyNames, name); }
int FindMethodByName(const std::string& name) { return FindByName(kMethodNames, name); }

}  // namespace vtsd
