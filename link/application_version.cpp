#include "link/application_version.hpp"

#include "base/settings.hpp"
#include "link/handlers.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "link/remote_files.hpp"

namespace vtsd {

std::string QueryAppVersion(TerminalSession& session) {
  session.app_version = QueryTerminalValue(session, "ProgrammVersion");
  return session.app_version;
}

std::string DeviceTest() {
  TerminalSession& session = Session();
  bool opened = false;
  if (!session.listener_exists() && session.device_id() == 0) {
    opened = true;
    session.StartListening();
    const TerminalSession::WaitResult result = session.WaitForTerminal();
    if (result == TerminalSession::WaitResult::TimedOut) Raise(link_text::kTestTimeout);
    // A listener that failed leaves no terminal: the test's own message
    // says so, as Open reports its own outcome.
  }
  try {
    if (session.device_id() == 0) Raise(link_text::kTestNotConnected);
    const std::string name = QueryTerminalValue(session, "ProgrammName");
    const std::string version = QueryTerminalValue(session, "ProgrammVersion");
    const std::string model = session.ExchangeText(EncodeGetTerminalVersion());
    if (model.size() <= 1) Raise(link_text::kTestModel);
    if (opened) session.CloseConnection(session.device_id());
    return "\rИмя ПО: " + name + "\rВерсия: " + version + "\rМодель ТСД: " + model;
  } catch (...) {
    // The host holds no device ID for a connection the test made itself, so
    // the test ends it whatever went wrong.
    if (opened && session.device_id() != 0) session.End();
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
