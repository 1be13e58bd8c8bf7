#include "link/device_test.hpp"

#include "addin/settings.hpp"
#include "addin/subsystems.hpp"
#include "link/connection.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "link/remote_files.hpp"

namespace vtsd {

std::string& AppVersionText() {
  static std::string text;
  return text;
}

std::string QueryAppVersion(platform::SocketHandle device) {
  AppVersionText() = QueryTerminalValue(device, "ProgrammVersion");
  return AppVersionText();
}

std::string DeviceTest() {
  bool opened = false;
  if (!ListenerExists() && DeviceSocket() == 0) {
    opened = true;
    StartListening();
    const WaitResult result = WaitForTerminal();
    if (result == WaitResult::TimedOut) Raise(link_text::kTestTimeout);
    if (result == WaitResult::NoTerminal && LastListenerFailure()) Raise(*LastListenerFailure());
  }
  try {
    const SocketHandle device = DeviceSocket();
    if (device == 0) Raise(link_text::kTestNotConnected);
    const std::string name = QueryTerminalValue(device, "ProgrammName");
    const std::string version = QueryTerminalValue(device, "ProgrammVersion");
    const std::string model = Exchange(device, EncodeGetTerminalVersion());
    if (model.size() <= 1) Raise(link_text::kTestModel);
    if (opened) CloseConnection(DeviceId());
    return "\rИмя ПО: " + name + "\rВерсия: " + version + "\rМодель ТСД: " + model;
  } catch (...) {
    // The host holds no device ID for a connection the test made itself, so
    // the test ends it whatever went wrong.
    if (opened && DeviceSocket() != 0) EndConnection();
    throw;
  }
}

void HandleDeviceTest(MethodCall& call) {
  RequireConnectionSettings();
  const std::string description = DeviceTest();
  call.WriteParam(0, Value::Text(description));
  call.WriteParam(1, Value());
  call.ret = Value::Int(description.empty() ? 0 : 1);
}

}  // namespace vtsd
