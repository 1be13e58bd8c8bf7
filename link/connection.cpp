#include "link/connection.hpp"

#include "link/handlers.hpp"
#include "link/session.hpp"

namespace vtsd {

// The free functions the frame and the tests use.
SocketHandle DeviceSocket() {
  const SocketHandle s = Session().socket();
  return s == platform::kInvalidSocket ? 0 : s;
}
int32_t DeviceId() { return Session().device_id(); }
bool ListenerExists() { return Session().listener_exists(); }
SocketHandle ListenSocket() { return Session().listen_socket(); }
const Msg* LastListenerFailure() { return Session().last_listener_failure(); }
void EndConnection() { Session().End(); }
bool StartListening() {
  Session().StartListening();
  return true;
}
WaitResult WaitForTerminal() { return Session().WaitForTerminal(); }
bool CloseConnection(int32_t device_id) {
  Session().CloseConnection(device_id);
  return true;
}
void ResetLinkOnInit() { Session().ForgetEndedListener(); }
void ReleaseListenerOnDone() { Session().ReleaseListener(); }

}  // namespace vtsd
