// Handlers of the selection-task and document methods: each runs its checks
// in order, then the operation.
#include <string>

#include "base/messages.hpp"
#include "base/params.hpp"
#include "base/settings.hpp"
#include "selection/handlers.hpp"
#include "base/value.hpp"
#include "link/session.hpp"
#include "selection/document_download.hpp"
#include "selection/task_upload.hpp"

namespace vtsd {

namespace {

const Msg kTaskWrongDeviceType{
    "7Ошибка при выгрузке в подбор,неверный тип данных у параметра ИД устройства.",
    "7Error while unloading a selection, wrong data type of the parameter device ID."};
const Msg kTaskWrongTableType{
    "7Ошибка при выгрузке в подбор,неверный тип данных у параметра Таблица Выгрузки.",
    "7Error while unloading in the selection, wrong data type of the parameter table Landings."};
const Msg kTaskDeviceEmpty{"7Ошибка при выгрузке в подбор,параметр ИД устройства пустой.",
                           "7Error while unloading a selection parameter Device ID blank."};
const Msg kTaskTableEmpty{"7Ошибка при выгрузке в подбор,параметр Таблица Выгрузки пустой.",
                          "7Error while unloading a selection parameter table Landings empty."};
const Msg kTaskNoData{"7Ошибка при выгрузке подбора,Нет данных для выгрузки.",
                      "7Error while unloading table, no data to upload."};
const Msg kTaskNoPodborName{"7Ошибка при выгрузке подбора, в таблице XML отсутствует PodborName.",
                            "7Error while unloading selection in the table XML missing PodborName."};
const Msg kTaskNotConnected{
    "7Ошибка при выгрузке подбора,Устройства с заданным ID не подключено.",
    "7Error while unloading selection, devices with the specified ID is not connected."};

const Msg kDownloadWrongDeviceType{
    "6Ошибка при загрузки таблицы,неверный тип данных у параметра ИД устройства.",
    "6Error while loading table, wrong data type of the parameter device ID."};
const Msg kDownloadDeviceEmpty{"6Ошибка при загрузки таблицы,параметр ИД устройства пустой.",
                               "6Error while unloading table, setting the device ID is empty."};
const Msg kDownloadNotConnected{
    "6Ошибка при загрузки таблицы,Устройства с заданным ID не подключено.",
    "6Error when loading tables Devices with specified ID is not connected."};

}  // namespace

void HandleUnloadTaskForSelection(MethodCall& call) {
  RequireConnectionSettings();
  const Value v0 = call.ReadParam(0);
  ParamText(v0, kTaskWrongDeviceType);
  const std::string task = ParamText(call.ReadParam(1), kTaskWrongTableType);
  if (NumericEquals(v0, 0)) Raise(kTaskDeviceEmpty);
  if (task.empty()) Raise(kTaskTableEmpty);
  if (task.find("Record") == std::string::npos) Raise(kTaskNoData);
  if (task.find("PodborName") == std::string::npos) Raise(kTaskNoPodborName);
  TerminalSession& session = SessionForDevice(v0, kTaskNotConnected);
  call.ret = Value::Int(UnloadTaskForSelection(session, task) ? 1 : 0);
}

void HandleDownloadTable(MethodCall& call) {
  RequireConnectionSettings();
  const Value v0 = call.ReadParam(0);
  ParamText(v0, kDownloadWrongDeviceType);
  if (NumericEquals(v0, 0)) Raise(kDownloadDeviceEmpty);
  TerminalSession& session = SessionForDevice(v0, kDownloadNotConnected);
  const std::string xml = DownloadTable(session);
  if (xml.empty()) return;
  call.WriteParam(1, Value::Text(xml));
  call.ret = Value::Int(1);
}

}  // namespace vtsd
