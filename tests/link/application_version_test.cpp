#include "link/application_version.hpp"

#include "link/messages.hpp"
#include "link/remote_files.hpp"
#include "link_fixture.hpp"

namespace vtsd {
namespace {

using testing::CallResult;
using testing::FakeTerminal;
using testing::kClose;
using testing::kDeviceTest;
using testing::kOpen;
using Strings = std::vector<std::string>;

using DeviceTestTest = testing::LinkTest;

const std::string kDescription = "\rИмя ПО: Merxa\rВерсия: 5.0.1\rМодель ТСД: VT-80";

TEST_F(DeviceTestTest, FromIdleConnectsDescribesAndDisconnects) {
  terminal.ConnectTo(ConnectionSettings().PortNumber);
  const CallResult r = Call(kDeviceTest);
  EXPECT_EQ(r.ret, Value::Int(1)) << r.reported;
  EXPECT_EQ(r.params[0], Value::Text(kDescription));
  EXPECT_TRUE(r.params[1].IsEmpty());
  EXPECT_EQ(terminal.Commands(), (Strings{"GetFuture", "GetFuture", "GetTerminalVersion", "Disconnect"}));
  EXPECT_EQ(terminal.Log()[0].text, "ProgrammName");
  EXPECT_EQ(terminal.Log()[1].text, "ProgrammVersion");
  EXPECT_TRUE(Idle());
}

TEST_F(DeviceTestTest, AfterOpenUsesTheConnectionAndKeepsIt) {
  SetMessageLanguage(Language::English);  // the labels stay Russian
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  // The test describes the terminal; the version a table operation asked
  // for stays what it was.
  Session().app_version = "untouched";
  const CallResult r = Call(kDeviceTest);
  EXPECT_EQ(r.params[0], Value::Text(kDescription));
  EXPECT_EQ(Session().app_version, "untouched");
  EXPECT_EQ(terminal.Commands(), (Strings{"GetFuture", "GetFuture", "GetTerminalVersion"}));
  EXPECT_EQ(dialogs.Shown().size(), 1u);
  EXPECT_EQ(Call(kClose, {open.params[0]}).ret, Value::Int(1));
}

TEST_F(DeviceTestTest, NoTerminalInTimeFailsAndLeavesIdle) {
  ConnectionSettings().TimeOut = 0;
  dialogs.hold = true;
  const CallResult r = Call(kDeviceTest);
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.reported, "3Connection timeout. Check the setting of time out or try again.");
  EXPECT_TRUE(Idle());
}

TEST_F(DeviceTestTest, RequiresTheSettings) {
  ConnectionSettings().TimeOut = -1;
  const CallResult r = Call(kDeviceTest);
  EXPECT_EQ(r.reported[0], '8');
  EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(DeviceTestTest, FailuresOfItsOwnConnectionCloseIt) {
  struct Case {
    const char* name;
    std::function<void(FakeTerminal&)> arrange;
    const char* reported;
  };
  const std::vector<Case> cases = {
      {"model too short", [](FakeTerminal& t) { t.model = "M"; },
       "3An error occurred while getting Models TSD."},
      {"name too short", [](FakeTerminal& t) { t.values["ProgrammName"] = "X"; },
       "4An error occurred while getting a directory from TSD."},
      {"terminal gone", [](FakeTerminal& t) { t.close_at = 2; }, "4TSD Disconnected."},
      {"disconnect refused", [](FakeTerminal& t) { t.disconnect_answer = 0; }, "2Error Connections TSD."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTerminal t;
    c.arrange(t);
    t.ConnectTo(ConnectionSettings().PortNumber);
    const CallResult r = Call(kDeviceTest);
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.reported, c.reported);
    // Nothing is left that the host could not close.
    EXPECT_TRUE(Idle());
    t.Stop();
  }
}

TEST_F(DeviceTestTest, FailureOnTheHostsConnectionKeepsIt) {
  terminal.model = "";
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  EXPECT_EQ(Call(kDeviceTest).reported, "3An error occurred while getting Models TSD.");
  EXPECT_NE(DeviceSocket(), 0u);
  EXPECT_EQ(Call(kClose, {open.params[0]}).ret, Value::Int(1));
}

// A listener that fails while it waits leaves no terminal: the test says so
// with its own not-connected message, as Open reports its own outcome.
TEST_F(DeviceTestTest, FailedListenerIsReportedAsNotConnected) {
  const CallResult r = CallWithFailingListener(kDeviceTest);
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.reported, "3TSD is not connected.");
  EXPECT_TRUE(Idle());
}

TEST_F(DeviceTestTest, ListenerFailureIsReported) {
  // Another socket already listens on the port: binding fails at once.
  platform::SocketOwner other(platform::CreateTcpSocket());
  ASSERT_TRUE(platform::BindIPv4(other.get(), "127.0.0.1", ConnectionSettings().PortNumber));
  ASSERT_TRUE(platform::Listen(other.get(), 1));
  EXPECT_EQ(Call(kDeviceTest).reported, "1The specified port is not available.");
  EXPECT_TRUE(Idle());
}

}  // namespace
}  // namespace vtsd
