// The host-facing names of the four properties, each in English and Russian,
// and the numbers of the properties and of the fourteen driver methods (the
// methods' rows are in addin/methods.hpp).
#pragma once

#include <string>

namespace vtsd {

struct PropertyName {
  const char* en;
  const char* ru;
};

constexpr int kPropertyCount = 4;
constexpr int kMethodCount = 14;

extern const PropertyName kPropertyNames[kPropertyCount];

enum Method : int {
  kOpen = 0,
  kClose = 1,
  kDeviceTest = 2,
  kGetVersion = 3,
  kGetDescription = 4,
  kGetLastError = 5,
  kGetParameters = 6,
  kSetParameter = 7,
  kGetAdditionalActions = 8,
  kDoAdditionalAction = 9,
  kUploadTable = 10,
  kDownloadTable = 11,
  kUnloadTaskForSelection = 12,
  kClearTable = 13,
};

enum Property : int {
  kPropIpAdress = 0,
  kPropPortNumber = 1,
  kPropTimeOut = 2,
  kPropChooseDownloadSource = 3,
};

// Exact, case-sensitive lookup over the rows in index order, English name
// first, then Russian. Returns -1 when no row matches.
int FindPropertyByName(const std::string& name);

constexpr const char* kExtensionName = "VemlarTSD";

}  // namespace vtsd
