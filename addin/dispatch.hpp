// The frame every driver method runs in, and the service methods that need
// no other subsystem.
#pragma once

#include <functional>

#include "base/params.hpp"

namespace vtsd {

constexpr long kS_OK = 0;
constexpr long kS_FALSE = 1;

// CallAsFunc's frame: the return value becomes the integer 0; numbers outside
// 0..13 give S_FALSE; otherwise the handler runs inside one catch that turns
// every failure into ReportedErrorText, and the result is S_OK.
long CallDriverMethod(long method, Value& ret, ParamArray& params);

// The one catch of the host boundary: runs `body` and turns any failure it
// raises into ReportedErrorText. CallAsFunc, GetPropVal and SetPropVal use it,
// so no failure ever reaches the host as an exception.
void ReportFailures(const std::function<void()>& body);

// Element 6 of GetDescription, the driver's download page: empty until the
// project has a page of its own (the docs say where the package is found).
constexpr const char* kDownloadPage = "";

void HandleGetVersion(MethodCall& call);
void HandleGetDescription(MethodCall& call);
void HandleGetLastError(MethodCall& call);
void HandleGetAdditionalActions(MethodCall& call);
void HandleDoAdditionalAction(MethodCall& call);

}  // namespace vtsd
