#include "base/progress.hpp"

#include <utility>

namespace vtsd {

namespace {
ProgressHook& Hook() {
  static ProgressHook hook;
  return hook;
}
}  // namespace

void SetProgressHook(ProgressHook hook) { Hook() = std::move(hook); }

void ReportTransferProgress(const TransferProgress& progress) {
  const ProgressHook& hook = Hook();
  if (!hook) return;
  try {
    hook(progress);
  } catch (...) {
  }
}

}  // namespace vtsd
