#include "link/listener.hpp"

#include "link/framing.hpp"
#include "link/messages.hpp"

namespace vtsd {

TMyThread::~TMyThread() {
  RequestEnd();
  thread_.reset();
  // A terminal accepted after its owner stopped waiting is closed here.
  const SocketHandle s = accepted_.exchange(0);
  if (s != 0) platform::CloseSocket(s);
}

SocketHandle TMyThread::TakeAccepted() { return accepted_.exchange(0); }

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
    accepted_.store(s);
    return;
  }
}

}  // namespace vtsd
