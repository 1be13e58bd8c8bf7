#include "link/session.hpp"

#include <exception>
#include <utility>

#include "base/settings.hpp"
#include "link/listener.hpp"
#include "link/messages.hpp"

namespace vtsd {

namespace {

// The listening address as four decimal numbers 0-255 without leading zeros,
// or "" when the text is no dotted IPv4 address. The settings check finds a
// dotted quad anywhere in the text ("host 192.168.1.30" passes it), and the
// system's parsers take "1.2" or an octal "010" for addresses of their own.
std::string DottedQuad(const std::string& text) {
  std::string out;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::string();
    out += std::to_string(value);
    if (++parts == 4) break;
    if (i >= text.size() || text[i] != '.') return std::string();
    out += '.';
    ++i;
  }
  return i == text.size() ? out : std::string();
}

}  // namespace

TerminalSession::TerminalSession() = default;
TerminalSession::~TerminalSession() = default;

TerminalSession& Session() {
  static TerminalSession session;
  return session;
}

template <typename Step>
auto TerminalSession::Guarded(Step step) -> decltype(step()) {
  if (broken_ || device_id_ == 0) Raise(link_text::kExchangeBroken);
  try {
    return step();
  } catch (const DriverError&) {
    Break();
    throw;
  } catch (const LibraryError&) {
    // A reply that decodes to no number: the stream cannot be trusted.
    Break();
    Raise(link_text::kReplyMismatch);
  }
}

Reply TerminalSession::Exchange(const Payload& request, const ReplyExpectation& expect) {
  return Guarded([&] {
    const SocketHandle s = socket();
    SendFrame(s, request.data(), request.size());
    return ReceiveReply(s, expect);
  });
}

std::string TerminalSession::ExchangeText(const Payload& request) {
  ReplyExpectation expect;
  expect.text = true;
  return Exchange(request, expect).text;
}

int32_t TerminalSession::ExchangeNumber(const Payload& request) {
  return Guarded([&] {
    const SocketHandle s = socket();
    SendFrame(s, request.data(), request.size());
    return ReplyNumber(ReceiveReply(s).text);
  });
}

int32_t TerminalSession::SendFrameForNumber(const uint8_t* frame, std::size_t size) {
  return Guarded([&] {
    const SocketHandle s = socket();
    SendAll(s, frame, size);
    return ReplyNumber(ReceiveReply(s).text);
  });
}

void TerminalSession::End() {
  // The listener goes first: it may still look at the listening socket.
  listener_.reset();
  const SocketHandle device = std::exchange(device_, 0);
  if (device != 0 && device != platform::kInvalidSocket) platform::CloseSocket(device);
  device_id_ = 0;
  broken_ = false;
  packet_size = 0;
  app_version.clear();
  ForgetTerminal();
  listen_.reset();
  if (library_started_) {
    platform::EndSocketLibrary();
    library_started_ = false;
  }
}

void TerminalSession::StartListening() {
  // A listener that was asked to end and has ended since is released here,
  // so a time-out whose listener ended late does not block the next attempt.
  if (listener_ && device_ == 0 && listener_->Finished()) End();
  if (listener_ || device_ != 0 || device_id_ != 0) Raise(link_text::kAlreadyConnected);
  last_failure_ = nullptr;

  if (!platform::StartSocketLibrary()) Raise(link_text::kLibraryStart);
  library_started_ = true;

  const ConnectionSettingsRecord& settings = ConnectionSettings();
  const std::string address = DottedQuad(settings.IpAddress);
  if (address.empty()) {
    End();
    Raise(link_text::kAddressNotIPv4);
  }
  listen_.reset(platform::CreateTcpSocket());
  if (!listen_.valid()) {
    End();
    Raise(link_text::kSocketCreate);
  }
  if (!platform::BindIPv4(listen_.get(), address, settings.PortNumber)) {
    End();
    Raise(link_text::kPortUnavailable);
  }
  listener_ = std::make_unique<TMyThread>(listen_.get());
  if (!listener_->Start()) {
    End();
    Raise(link_text::kListenFailed);
  }
}

TerminalSession::WaitResult TerminalSession::WaitForTerminal() {
  if (!listener_) return device_id_ != 0 ? WaitResult::Connected : WaitResult::NoTerminal;

  const int32_t timeout = ConnectionSettings().TimeOut;
  const long long wait_ms = timeout > 0 ? static_cast<long long>(timeout) * 1000 : 0;
  if (!listener_->WaitFor(wait_ms)) {
    // Time is up: end the listener where it stands, without killing it.
    listener_->RequestEnd();
    if (!listener_->WaitFor(kListenerEndGraceMs)) return WaitResult::NoTerminal;
  }
  // The listener has ended. A terminal accepted before the end counts.
  const SocketHandle accepted = listener_->TakeAccepted();
  if (accepted != 0) {
    // The one terminal is here: nothing else may wait in the listening
    // socket's backlog for a connection that would never be served (a
    // terminal that connects again at once would sit there until Close,
    // then be reset).
    listener_.reset();
    listen_.reset();
    Adopt(accepted);
    return WaitResult::Connected;
  }
  const Msg* failure = listener_->Failure();
  End();
  if (failure) {
    last_failure_ = failure;
    return WaitResult::NoTerminal;
  }
  return WaitResult::TimedOut;
}

void TerminalSession::CloseConnection(int32_t device_id) {
  if (device_id_ == 0) Raise(link_text::kCloseNotConnected);
  if (device_id != device_id_) Raise(link_text::kCloseWrongId);
  if (broken_) {
    // Nothing can be asked of a broken connection: it ends here.
    End();
    return;
  }
  int32_t answer = 0;
  try {
    answer = ExchangeNumber(EncodeDisconnect());
  } catch (const DriverError&) {
    // The terminal is gone or out of step: nothing can use this connection.
    End();
    throw;
  }
  if (answer == 0) Raise(link_text::kDisconnectRefused);
  End();
}

void TerminalSession::ForgetEndedListener() {
  if (listener_ && listener_->Finished()) listener_.reset();
}

void TerminalSession::ReleaseListener() { listener_.reset(); }

void TerminalSession::Adopt(SocketHandle socket) {
  device_ = socket;
  device_id_ = static_cast<int32_t>(socket);
  broken_ = false;
  // Another connection may be another terminal.
  ForgetTerminal();
}

void TerminalSession::ForgetTerminal() {
  terminal_id.clear();
  terminal_id_known = false;
  reported_absent.clear();
}

void TerminalSession::Break() {
  broken_ = true;
  const SocketHandle s = std::exchange(device_, platform::kInvalidSocket);
  if (s != 0 && s != platform::kInvalidSocket) platform::CloseSocket(s);
}

TerminalSession& SessionForDevice(const Value& device_id, const Msg& not_connected) {
  TerminalSession& session = Session();
  if (!NumericEquals(device_id, session.device_id())) Raise(not_connected);
  if (session.broken()) Raise(link_text::kExchangeBroken);
  return session;
}

}  // namespace vtsd
