#include "addin/dispatch.hpp"

#include <exception>

#include "base/messages.hpp"
#include "addin/names.hpp"
#include "addin/methods.hpp"

namespace vtsd {

namespace {

const Msg kName{"Вемлар ТСД", "Vemlar ТСД"};
const Msg kDescription{
    "Драйвер осуществляет подключение терминалов сбора данных модельного ряда Vemlar, с "
    "установленным ПО Merxa версии 5,к системе 1С с целью обмена данными.",
    "Driver connects data collection terminals lineup Vemlar, with installed Merxa Version 5 "
    "system 1C to exchange data."};
const Msg kNoAdditionalActions{"*Дополнительные действия драйвером не поддерживаются.",
                               "*Additional actions are not supported by the driver."};

}  // namespace

long CallDriverMethod(long method, Value& ret, ParamArray& params) {
  ret = Value::Int(0);
  if (method < 0 || method >= kMethodCount) return kS_FALSE;
  MethodCall call{params, ret};
  ReportFailures([&] { kMethods[method].handler(call); });
  return kS_OK;
}

void ReportFailures(const std::function<void()>& body) {
  try {
    body();
  } catch (const DriverError& e) {
    SetReportedErrorText(e.text());
  } catch (const std::bad_alloc&) {
    SetReportedErrorText("Out of memory");
  } catch (const std::exception& e) {
    SetReportedErrorText(e.what());
  } catch (...) {
    SetReportedErrorText("Unknown failure");
  }
}

void HandleGetVersion(MethodCall& call) { call.ret = Value::Text("1.2"); }

void HandleGetDescription(MethodCall& call) {
  call.WriteParam(0, Value::Text(kName.Text()));
  call.WriteParam(1, Value::Text(kDescription.Text()));
  call.WriteParam(2, Value::Text("ТерминалСбораДанных"));
  call.WriteParam(3, Value::Text("1002"));
  call.WriteParam(4, Value::Bool(true));
  call.WriteParam(5, Value::Bool(true));
  call.WriteParam(6, Value::Text(kDownloadPage));
  call.ret = Value::Int(1);
}

void HandleGetLastError(MethodCall& call) {
  const ErrorReport report = MapReportedError(GetReportedErrorText(), GetMessageLanguage());
  call.ret = Value::Int(report.code);
  call.WriteParam(0, Value::Text(report.description));
}

void HandleGetAdditionalActions(MethodCall& call) {
  call.WriteParam(0, Value::Text(""));
  call.ret = Value::Int(1);
}

void HandleDoAdditionalAction(MethodCall& call) {
  call.ReadParam(0).ToText();
  Raise(kNoAdditionalActions);
}

}  // namespace vtsd
