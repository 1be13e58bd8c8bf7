// Handlers of the catalogue methods UploadTable and ClearTable: the checks of
// the host's parameters, in their order, before the operation runs.
#include <string>

#include "base/messages.hpp"
#include "base/params.hpp"
#include "base/settings.hpp"
#include "catalogue/handlers.hpp"
#include "base/value.hpp"
#include "catalogue/upload.hpp"
#include "catalogue/upload_state.hpp"
#include "link/session.hpp"

namespace vtsd {

namespace {

const Msg kUploadWrongDeviceType{
    "5Ошибка при выгрузке таблицы,неверный тип данных у параметра ИД устройства.",
    "5Error while unloading table, wrong data type of the parameter device ID."};
const Msg kUploadWrongTableType{
    "5Ошибка при выгрузке таблицы,неверный тип данных у параметра ТаблицаТоваров.",
    "5Error while unloading table, wrong data type of the parameter data for unloading."};
const Msg kUploadWrongStatusType{
    "5Ошибка при выгрузке таблицы,неверный тип данных у параметра Статус Пакета.",
    "5Error while unloading table, wrong data type of the parameter Status Package."};
const Msg kUploadDeviceEmpty{"5Ошибка при выгрузке таблицы,параметр ИД устройства пустой.",
                             "5Error while unloading table, setting the device ID is empty."};
const Msg kUploadNoData{"5Ошибка при выгрузке таблицы,Нет данных для выгрузки.",
                        "5Error while unloading table, no data to upload."};
const Msg kUploadStatusEmpty{"5Ошибка при выгрузке таблицы,параметр Статус Пакета пустой.",
                             "5Error while unloading table, setting the package status is empty."};
const Msg kUploadNotConnected{"5Ошибка при выгрузки таблицы,Устройства с заданным ID не подключено.",
                              "5Error while unloading table, devices with the specified ID is not connected."};
const Msg kUploadStatusInvalid{"5Ошибка при выгрузки Таблицы,Параметр СтатусПакета некорректный.",
                               "5Error while unloading rebounds, setting the package status is incorrect."};

const Msg kClearWrongDeviceType{
    "~Ошибка при очистке таблицы товаров,неверный тип данных у параметра ИД устройства.",
    "~Error during cleaning products table, the wrong data type of the parameter device ID."};
const Msg kClearDeviceEmpty{"~Ошибка при очистке товарного справочника,параметр ИД устройства пустой.",
                            "~Error while unloading commercial cleaning directory, setting the device ID is empty."};
const Msg kClearNotConnected{
    "~Ошибка при очистке товарного справочника,Устройства с заданным ID не подключено.",
    "~Error while unloading commercial cleaning directory, devices with the specified ID is not connected."};

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// The package status must be exactly one of the three words; each test names
// a word the status contains and the only length it may then have.
bool ValidPackageStatus(const std::string& status) {
  if (Contains(status, "last") && status.size() != 4) return false;
  if (Contains(status, "first") && status.size() != 5) return false;
  if (Contains(status, "regular") && status.size() != 7) return false;
  return Contains(status, "last") || Contains(status, "first") || Contains(status, "regular");
}

}  // namespace

void HandleUploadTable(MethodCall& call) {
  RequireConnectionSettings();
  const Value v0 = call.ReadParam(0);
  ParamText(v0, kUploadWrongDeviceType);
  std::string table = ParamText(call.ReadParam(1), kUploadWrongTableType);
  const std::string status = ParamText(call.ReadParam(2), kUploadWrongStatusType);
  if (NumericEquals(v0, 0)) Raise(kUploadDeviceEmpty);
  if (!Contains(table, "Record")) Raise(kUploadNoData);
  if (status.empty()) Raise(kUploadStatusEmpty);
  TerminalSession& session = SessionForDevice(v0, kUploadNotConnected);
  if (!ValidPackageStatus(status)) Raise(kUploadStatusInvalid);
  call.ret = Value::Int(UploadTableOperation(session, std::move(table), status) ? 1 : 0);
}

void HandleClearTable(MethodCall& call) {
  RequireConnectionSettings();
  const Value v0 = call.ReadParam(0);
  ParamText(v0, kClearWrongDeviceType);
  if (NumericEquals(v0, 0)) Raise(kClearDeviceEmpty);
  TerminalSession& session = SessionForDevice(v0, kClearNotConnected);
  call.ret = Value::Int(ClearTableOperation(session) ? 1 : 0);
}

void ResetCatalogueOnInit() {
  // A new component object forgets the packages of an upload that is over;
  // those of an upload still in progress are that upload's own, and its
  // "last" needs them to write the package barcodes.
  UploadState& state = CatalogueUploadState();
  if (!state.UploadInProgress) state.PackagesPresent = false;
}

}  // namespace vtsd
