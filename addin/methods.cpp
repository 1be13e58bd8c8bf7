#include "addin/methods.hpp"

#include "addin/dispatch.hpp"
#include "base/settings.hpp"
#include "catalogue/handlers.hpp"
#include "link/handlers.hpp"
#include "selection/handlers.hpp"

namespace vtsd {

const MethodRow kMethods[kMethodCount] = {
    {"Open", "Подключить", 1, HandleOpen},
    {"Close", "Отключить", 1, HandleClose},
    {"DeviceTest", "ТестУстройства", 2, HandleDeviceTest},
    {"GetVersion", "ПолучитьНомерВерсии", 0, HandleGetVersion},
    {"GetDescription", "ПолучитьОписание", 7, HandleGetDescription},
    {"GetLastError", "ПолучитьОшибку", 1, HandleGetLastError},
    {"GetParameters", "ПолучитьПараметры", 1, HandleGetParameters},
    {"SetParameter", "УстановитьПараметр", 2, HandleSetParameter},
    {"GetAdditionalActions", "ПолучитьДополнительныеДействия", 1, HandleGetAdditionalActions},
    {"DoAdditionalAction", "ВыполнитьДополнительноеДействие", 1, HandleDoAdditionalAction},
    {"UploadTable", "ВыгрузитьТаблицу", 3, HandleUploadTable},
    {"DownloadTable", "ЗагрузитьТаблицу", 2, HandleDownloadTable},
    {"UnloadTaskForSelection", "ВыгрузитьЗадачуДляПодбора", 2, HandleUnloadTaskForSelection},
    {"ClearTable", "ОчиститьТаблицу", 1, HandleClearTable},
};

int FindMethodByName(const std::string& name) {
  for (int i = 0; i < kMethodCount; ++i) {
    if (name == kMethods[i].en || name == kMethods[i].ru) return i;
  }
  return -1;
}

}  // namespace vtsd
