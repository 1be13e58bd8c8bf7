#include "link/connection.hpp"

#include "addin/settings.hpp"
#include "addin/subsystems.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "platform/codepage.hpp"

namespace vtsd {

namespace {
// The link's process-wide state. The listener thread writes `device` once,
// on accept; the host's thread reads it after the listener has ended.
struct LinkState {
  platform::SocketOwner listen;
  std::atomic<SocketHandle> device{0};
  std::unique_ptr<TMyThread> listener;
  bool library_started = false;
  const Msg* last_failure = nullptr;
};

LinkState& Link() {
  static LinkState state;
  return state;
}

void EndLibraryUse() {
  LinkState& link = Link();
  if (link.library_started) {
    platform::EndSocketLibrary();
    link.library_started = false;
  }
}
}  // namespace

TMyThread::~TMyThread() {
  RequestEnd();
  thread_.reset();
}

bool TMyThread::Start() {
  thread_ = platform::Thread::Start([this] { Execute(); });
  return thread_ != nullptr;
}

void TMyThread::RequestEnd() {
  end_requested_.store(true);
  closer_.Close();
}

bool TMyThread::WaitFor(long long timeout_ms) { return !thread_ || thread_->WaitFor(timeout_ms); }
bool TMyThread::Finished() { return WaitFor(0); }

void TMyThread::Execute() {
  // Nothing may escape the thread; a failure of its own ends it like a
  // failed accept.
  try {
    ListenAndAccept();
  } catch (...) {
    failure_.store(&link_text::kAcceptFailed);
  }
}

void TMyThread::ListenAndAccept() {
  if (!platform::Listen(listen_socket_, 1)) {
    failure_.store(&link_text::kListenFailed);
    return;
  }
  platform::MessageBoxRequest box;
  box.kind = platform::BoxKind::Info;
  box.caption = link_text::kInfoCaption.Text();
  box.text = link_text::kInfoText.Text();
  box.safe_answer = platform::BoxAnswer::Ok;
  // A terminal that connects meanwhile waits in the backlog.
  platform::Dialogs().ShowMessageBox(box, &closer_);

  // The accept waits in short slices so that an end request is seen at once;
  // the socket stays with its owner, who closes it after this thread ended.
  while (!end_requested_.load()) {
    const int ready = platform::WaitReadable(listen_socket_, kAcceptPollMs);
    if (end_requested_.load()) return;
    if (ready == 0) continue;
    const SocketHandle s = ready > 0 ? platform::Accept(listen_socket_) : platform::kInvalidSocket;
    if (s == platform::kInvalidSocket) {
      failure_.store(&link_text::kAcceptFailed);
      return;
    }
    PrepareDeviceSocket(s);
    Link().device.store(s);
    return;
  }
}

SocketHandle DeviceSocket() { return Link().device.load(); }
int32_t DeviceId() { return static_cast<int32_t>(DeviceSocket()); }
bool ListenerExists() { return Link().listener != nullptr; }
SocketHandle ListenSocket() { return Link().listen.get(); }
const Msg* LastListenerFailure() { return Link().last_failure; }

void EndConnection() {
  LinkState& link = Link();
  // The listener goes first: it may still look at the listening socket.
  link.listener.reset();
  const SocketHandle device = link.device.exchange(0);
  if (device != 0) platform::CloseSocket(device);
  link.listen.reset();
  EndLibraryUse();
}

bool StartListening() {
  LinkState& link = Link();
  // A listener that was asked to end and has ended since is released here,
  // so a time-out whose listener ended late does not block the next attempt.
  if (link.listener && link.device.load() == 0 && link.listener->Finished()) EndConnection();
  if (link.listener || link.device.load() != 0) Raise(link_text::kAlreadyConnected);
  link.last_failure = nullptr;

  if (!platform::StartSocketLibrary()) Raise(link_text::kLibraryStart);
  link.library_started = true;

  const ConnectionSettingsRecord& settings = ConnectionSettings();
  const std::string address = platform::Utf8ToAnsi(settings.IpAddress);
  link.listen.reset(platform::CreateTcpSocket());
  if (!link.listen.valid()) {
    EndConnection();
    Raise(link_text::kSocketCreate);
  }
  if (!platform::BindIPv4(link.listen.get(), address, settings.PortNumber)) {
    EndConnection();
    Raise(link_text::kPortUnavailable);
  }
  link.listener = std::make_unique<TMyThread>(link.listen.get());
  if (!link.listener->Start()) {
    EndConnection();
    Raise(link_text::kListenFailed);
  }
  return true;
}

WaitResult WaitForTerminal() {
  LinkState& link = Link();
  if (!link.listener) return link.device.load() != 0 ? WaitResult::Connected : WaitResult::NoTerminal;

  const int32_t timeout = ConnectionSettings().TimeOut;
  const long long wait_ms = timeout > 0 ? static_cast<long long>(timeout) * 1000 : 0;
  if (!link.listener->WaitFor(wait_ms)) {
    // Time is up: end the listener where it stands, without killing it.
    link.listener->RequestEnd();
    if (!link.listener->WaitFor(kListenerEndGraceMs)) return WaitResult::NoTerminal;
  }
  // The listener has ended. A terminal accepted before the end counts.
  if (link.device.load() != 0) return WaitResult::Connected;
  const Msg* failure = link.listener->Failure();
  EndConnection();
  if (failure) {
    link.last_failure = failure;
    return WaitResult::NoTerminal;
  }
  return WaitResult::TimedOut;
}

bool CloseConnection(int32_t device_id) {
  LinkState& link = Link();
  const SocketHandle device = link.device.load();
  if (device == 0) Raise(link_text::kCloseNotConnected);
  if (device_id != static_cast<int32_t>(device)) Raise(link_text::kCloseWrongId);
  int32_t answer = 0;
  try {
    answer = ExchangeNumber(device, EncodeDisconnect());
  } catch (const DriverError&) {
    // The terminal is gone: nothing can use this connection any more.
    EndConnection();
    throw;
  }
  if (answer == 0) Raise(link_text::kDisconnectRefused);
  EndConnection();
  return true;
}

void ResetLinkOnInit() {
  // Forget an ended listener; a connection that still exists stays usable.
  LinkState& link = Link();
  if (link.listener && link.listener->Finished()) link.listener.reset();
}

void ReleaseListenerOnDone() {
  // Asks the listener to end and waits for it; the sockets stay.
  Link().listener.reset();
}

}  // namespace vtsd
