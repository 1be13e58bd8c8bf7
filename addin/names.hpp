// The host-facing name tables: the four properties and the fourteen driver
// methods, each with its English and Russian name.
#pragma once

#include <string>

namespace vtsd {

struct PropertyName {
  const char* en;
  const char* ru;
};

struct MethodName {
  const char* en;
  const char* ru;
  int params;  // as GetNParams reports it
};

constexpr int kPropertyCount = 4;
constexpr int kMethodCount = 14;

extern const PropertyName kPropertyNames[kPropertyCount];
extern const MethodName kMethodNames[kMethodCount];

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
int FindMethodByName(const std::string& name);

constexpr const char* kExtensionName = "VemlarTSD";

}  // namespace vtsd
