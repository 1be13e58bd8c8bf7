// The terminal connection's steps as the frame and the tests call them: each
// is a step of the one terminal session (session.hpp).
#pragma once

#include <cstdint>

#include "base/messages.hpp"
#include "link/session.hpp"
#include "platform/socket.hpp"

namespace vtsd {

using platform::SocketHandle;

using WaitResult = TerminalSession::WaitResult;

// The session's connection steps for the frame and the tests (session.hpp).
bool StartListening();
WaitResult WaitForTerminal();
const Msg* LastListenerFailure();
bool CloseConnection(int32_t device_id);
// Ends the link without asking the terminal: the listener, the device and
// listening sockets and the socket library use.
void EndConnection();

// The accepted terminal connection, 0 when there is none or it is broken.
SocketHandle DeviceSocket();
// The device ID the host holds: DeviceSocket as a 32-bit integer.
int32_t DeviceId();
bool ListenerExists();
// The listening socket, kInvalidSocket when closed.
SocketHandle ListenSocket();

}  // namespace vtsd
