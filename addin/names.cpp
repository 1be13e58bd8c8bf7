#include "addin/names.hpp"

namespace vtsd {

const PropertyName kPropertyNames[kPropertyCount] = {
    {"propIpAdress", "ИПАдрес"},
    {"propPortNumber", "НомерПорта"},
    {"propTimeOut", "ВремяОжидания"},
    {"propChooseDownloadSource", "ВыбиратьИсточникЗагрузки"},
};

int FindPropertyByName(const std::string& name) {
  for (int i = 0; i < kPropertyCount; ++i) {
    if (name == kPropertyNames[i].en || name == kPropertyNames[i].ru) return i;
  }
  return -1;
}

}  // namespace vtsd
