// Handlers of the terminal-connection methods. This build has no terminal
// link yet: each method fails with its coded message instead of pretending
// to succeed.
#include "addin/messages.hpp"
#include "addin/subsystems.hpp"

namespace vtsd {

namespace {
const Msg kOpenUnavailable{"1Подключение к ТСД недоступно в этой сборке драйвера.",
                           "1Connecting to the TSD is unavailable in this build of the driver."};
const Msg kCloseUnavailable{"2Отключение ТСД недоступно в этой сборке драйвера.",
                            "2Disconnecting the TSD is unavailable in this build of the driver."};
const Msg kTestUnavailable{"3Тест ТСД недоступен в этой сборке драйвера.",
                           "3The TSD test is unavailable in this build of the driver."};
}  // namespace

void HandleOpen(MethodCall&) { Raise(kOpenUnavailable); }
void HandleClose(MethodCall&) { Raise(kCloseUnavailable); }
void HandleDeviceTest(MethodCall&) { Raise(kTestUnavailable); }
void ResetLinkOnInit() {}
void ReleaseListenerOnDone() {}

}  // namespace vtsd
