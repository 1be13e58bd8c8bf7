// Handlers of the terminal-connection methods Open and Close.
#include "base/messages.hpp"
#include "base/settings.hpp"
#include "link/handlers.hpp"
#include "link/connection.hpp"
#include "link/messages.hpp"

namespace vtsd {

void HandleOpen(MethodCall& call) {
  RequireConnectionSettings();
  StartListening();
  switch (WaitForTerminal()) {
    case WaitResult::Connected:
      call.WriteParam(0, Value::Int(DeviceId()));
      call.ret = Value::Int(1);
      return;
    case WaitResult::TimedOut:
      Raise(link_text::kOpenTimeout);
    case WaitResult::NoTerminal:
      // The listener's own failure becomes the reported one; the link is
      // released already, so Open can be called again.
      if (const Msg* failure = LastListenerFailure()) Raise(*failure);
      return;
  }
}

void HandleClose(MethodCall& call) {
  int32_t device_id = 0;
  try {
    device_id = call.ReadParam(0).ToInt32();
  } catch (const std::exception&) {
    Raise(link_text::kCloseWrongType);
  }
  call.ret = Value::Int(CloseConnection(device_id) ? 1 : 0);
}

}  // namespace vtsd
