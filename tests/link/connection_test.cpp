#include <sys/socket.h>

#include <thread>

#include "link/handlers.hpp"
#include "link/messages.hpp"
#include "link_fixture.hpp"
#include "socket_pair.hpp"

namespace vtsd {
namespace {

using testing::CallResult;
using testing::FakeTerminal;
using testing::LinkTest;
using testing::kClose;
using testing::DriverMethod;
using testing::kDeviceTest;
using testing::kOpen;

using ConnectionTest = LinkTest;

TEST_F(ConnectionTest, OpenWithoutSettingsFailsBeforeListening) {
  ConnectionSettings().IpAddress.clear();
  const CallResult r = Call(kOpen);
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.reported, "8IP address is not specified, specify the IP address settings.");
  EXPECT_TRUE(dialogs.Shown().empty());
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, TerminalConnectingWhileTheBoxIsOpenIsAcceptedOnOk) {
  dialogs.hold = true;
  terminal.ConnectTo(ConnectionSettings().PortNumber);
  std::thread press([&] {
    ASSERT_TRUE(dialogs.WaitShown(5000));
    ASSERT_TRUE(terminal.WaitConnected(5000));  // waits in the backlog
    dialogs.Press();
  });
  const CallResult r = Call(kOpen);
  press.join();
  ASSERT_EQ(r.ret, Value::Int(1)) << r.reported;
  EXPECT_EQ(r.reported, " ");
  EXPECT_NE(DeviceSocket(), 0u);
  EXPECT_EQ(r.params[0], Value::Int(DeviceId()));
  ASSERT_EQ(dialogs.Shown().size(), 1u);
  EXPECT_EQ(dialogs.Shown()[0].caption, "Vemlar TSD");
  EXPECT_EQ(dialogs.Shown()[0].text, "Run-for-TSD");
  EXPECT_EQ(dialogs.Shown()[0].kind, platform::BoxKind::Info);
  EXPECT_FALSE(dialogs.ClosedByDriver());

  const CallResult closed = Call(kClose, {r.params[0]});
  EXPECT_EQ(closed.ret, Value::Int(1)) << closed.reported;
  EXPECT_EQ(terminal.Commands(), std::vector<std::string>{"Disconnect"});
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, BoxTextFollowsTheMessageLanguage) {
  SetMessageLanguage(Language::Russian);
  ASSERT_EQ(OpenWithTerminal().ret, Value::Int(1));
  EXPECT_EQ(dialogs.Shown().at(0).text, "Запустите обмен на ТСД");
  EXPECT_EQ(dialogs.Shown().at(0).caption, "Vemlar TSD");
}

TEST_F(ConnectionTest, SecondOpenFailsAndLeavesTheConnection) {
  const CallResult first = OpenWithTerminal();
  ASSERT_EQ(first.ret, Value::Int(1));
  const CallResult second = Call(kOpen);
  EXPECT_EQ(second.ret, Value::Int(0));
  EXPECT_EQ(second.reported, "1TSD already connected");
  EXPECT_EQ(Call(kClose, {first.params[0]}).ret, Value::Int(1));
}

TEST_F(ConnectionTest, TimeOutEndsTheListenerAndClosesTheBox) {
  for (int32_t timeout : {0, 1}) {
    SCOPED_TRACE(timeout);
    testing::TestDialogs held;
    held.hold = true;
    platform::InstallDialogProvider(&held);
    ConnectionSettings().TimeOut = timeout;
    const auto start = std::chrono::steady_clock::now();
    const CallResult r = Call(kOpen);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.reported, "1Connection timeout. Check the setting of time out or try again.");
    EXPECT_GE(took, std::chrono::milliseconds(timeout * 1000));
    // The driver closed the box that nobody pressed.
    EXPECT_TRUE(held.ClosedByDriver());
    EXPECT_TRUE(Idle());
    // Nothing listens on the port any more.
    EXPECT_EQ(platform::ConnectIPv4("127.0.0.1", ConnectionSettings().PortNumber), platform::kInvalidSocket);
    platform::InstallDialogProvider(&dialogs);
  }
  // The same port can be opened again at once.
  ConnectionSettings().TimeOut = 5;
  EXPECT_EQ(OpenWithTerminal().ret, Value::Int(1));
}

TEST_F(ConnectionTest, TimeOutWhileWaitingToAcceptLeavesNothingBehind) {
  ConnectionSettings().TimeOut = 1;
  const CallResult r = Call(kOpen);  // box pressed at once, no terminal
  EXPECT_EQ(r.reported, "1Connection timeout. Check the setting of time out or try again.");
  EXPECT_FALSE(dialogs.ClosedByDriver());
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, CloseChecksTypeConnectionAndId) {
  struct Case {
    Value id;
    const char* reported;
  };
  // Nothing connected yet.
  EXPECT_EQ(Call(kClose, {Value::Int(5)}).reported, "2TSD is not connected.");
  EXPECT_EQ(Call(kClose, {Value::Text("abc")}).reported,
            "2Error during shutdown TSD, the wrong data type of the parameter device ID.");

  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  const std::vector<Case> cases = {
      {Value::Text("abc"), "2Error during shutdown TSD, the wrong data type of the parameter device ID."},
      {Value::Int(DeviceId() + 1), "2No connected TSD on the specified ID."},
      {Value::Object(), "2Error during shutdown TSD, the wrong data type of the parameter device ID."},
  };
  for (const Case& c : cases) {
    const CallResult r = Call(kClose, {c.id});
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.reported, c.reported);
  }
  EXPECT_TRUE(terminal.Commands().empty());
  // The ID as text is accepted like the number.
  EXPECT_EQ(Call(kClose, {Value::Text(std::to_string(DeviceId()))}).ret, Value::Int(1));
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, DisconnectAnsweredZeroKeepsTheConnection) {
  terminal.scripted["Disconnect"] = {testing::NumberReply(0)};
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  const CallResult refused = Call(kClose, {open.params[0]});
  EXPECT_EQ(refused.ret, Value::Int(0));
  EXPECT_EQ(refused.reported, "2Error Connections TSD.");
  EXPECT_NE(DeviceSocket(), 0u);
  EXPECT_EQ(Value::Int(DeviceId()), open.params[0]);
  // The next Close goes through.
  EXPECT_EQ(Call(kClose, {open.params[0]}).ret, Value::Int(1));
  EXPECT_EQ(terminal.Commands(), (std::vector<std::string>{"Disconnect", "Disconnect"}));
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, CloseWithTheTerminalGoneEndsTheConnection) {
  terminal.close_at = 1;
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  const CallResult r = Call(kClose, {open.params[0]});
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.reported, "4TSD Disconnected.");
  EXPECT_TRUE(Idle());
  // Open works again.
  FakeTerminal next;
  next.ConnectTo(ConnectionSettings().PortNumber);
  EXPECT_EQ(Call(kOpen).ret, Value::Int(1));
}

TEST_F(ConnectionTest, CloseWithAStalledTerminalEndsWithinTheBound) {
  SetExchangeTimeLimitMs(300);
  terminal.stall_at = 1;
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  const CallResult r = Call(kClose, {open.params[0]});
  EXPECT_EQ(r.reported, "4During an exchange relationship with TSD was broken again exchange.");
  EXPECT_TRUE(Idle());
}

// A terminal that answers after the exchange limit breaks the session: its
// late reply can never be read as the answer to a later request, every later
// method on the device ID fails at once without a request, Close ends the
// session locally, and Open then works.
TEST_F(ConnectionTest, LateReplyBreaksTheSessionAndIsNeverRead) {
  SetExchangeTimeLimitMs(300);
  terminal.late_at = 1;  // "ProgrammName" answered 0.8 s late
  terminal.late_ms = 800;
  terminal.values["ProgrammName"] = "5.123";
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  const std::string broken = "4During an exchange relationship with TSD was broken again exchange.";
  EXPECT_EQ(Call(kDeviceTest).reported, broken);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the late reply is sent meanwhile
  const std::size_t requests = terminal.Log().size();
  const CallResult again = Call(kDeviceTest);
  EXPECT_EQ(again.ret, Value::Int(0));
  EXPECT_EQ(again.reported, broken);
  EXPECT_EQ(terminal.Log().size(), requests);
  EXPECT_EQ(Value::Int(DeviceId()), open.params[0]);

  const CallResult close = Call(kClose, {open.params[0]});
  EXPECT_EQ(close.ret, Value::Int(1)) << close.reported;
  EXPECT_EQ(terminal.Log().size(), requests);
  EXPECT_TRUE(Idle());

  FakeTerminal next;
  next.ConnectTo(ConnectionSettings().PortNumber);
  const CallResult reopened = Call(kOpen);
  ASSERT_EQ(reopened.ret, Value::Int(1));
  const CallResult test = Call(kDeviceTest);
  EXPECT_EQ(test.params[0], Value::Text("\rИмя ПО: Merxa\rВерсия: 5.0.1\rМодель ТСД: VT-80"));
  EXPECT_EQ(Call(kClose, {reopened.params[0]}).ret, Value::Int(1));
}

// A "Disconnect" answered by something that is no number leaves the
// connection out of step: Close ends it all the same.
TEST_F(ConnectionTest, UndecodableDisconnectAnswerEndsTheConnection) {
  terminal.scripted["Disconnect"] = {testing::TextReply("Merxa")};
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  const CallResult r = Call(kClose, {open.params[0]});
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.reported[0], '4');
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, ListenerFailureIsReportedAndOpenCanBeRetried) {
  const CallResult r = CallWithFailingListener(kOpen);
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.reported, "4Error in ClietSoket.");
  EXPECT_TRUE(Idle());

  EXPECT_EQ(OpenWithTerminal().ret, Value::Int(1));
}

// The settings check finds a dotted quad anywhere in the text; what is no
// IPv4 address fails with a message that names the address setting, before
// anything listens. Leading zeros are decimal, as the user means them.
TEST_F(ConnectionTest, AnAddressThatIsNoIPv4AddressNamesTheSetting) {
  const std::string not_ipv4 =
      "8The \"IP Address\" setting is not an IPv4 address. Give four numbers from 0 to 255 separated by "
      "dots, for example 192.168.1.30.";
  for (const char* address : {"host 127.0.0.1", "127.0.0.1.5", "127.0.1", "127.0.0.256", "127.0.0.1 ",
                              "127..0.1", "127.0.0.0001", ""}) {
    SCOPED_TRACE(address);
    ConnectionSettings().IpAddress = address;
    for (DriverMethod method : {kOpen, kDeviceTest}) {
      const CallResult r = Call(method);
      EXPECT_EQ(r.ret, Value::Int(0));
      EXPECT_EQ(r.reported, address[0] ? not_ipv4 : "8IP address is not specified, specify the IP address settings.");
      EXPECT_TRUE(dialogs.Shown().empty());
      EXPECT_TRUE(Idle());
    }
  }
  ConnectionSettings().IpAddress = "127.000.000.001";
  EXPECT_EQ(OpenWithTerminal().ret, Value::Int(1));
}

TEST_F(ConnectionTest, PortInUseFailsWithThePortMessage) {
  platform::SocketOwner other(platform::CreateTcpSocket());
  ASSERT_TRUE(platform::BindIPv4(other.get(), "127.0.0.1", ConnectionSettings().PortNumber));
  ASSERT_TRUE(platform::Listen(other.get(), 1));
  const CallResult r = Call(kOpen);
  EXPECT_EQ(r.reported, "1The specified port is not available.");
  EXPECT_TRUE(Idle());
}

TEST_F(ConnectionTest, InitAndDoneForgetOnlyTheEndedListener) {
  const CallResult open = OpenWithTerminal();
  ASSERT_EQ(open.ret, Value::Int(1));
  ResetLinkOnInit();
  EXPECT_FALSE(ListenerExists());
  // The connection still exists, so another Open is refused.
  EXPECT_EQ(Call(kOpen).reported, "1TSD already connected");
  ReleaseListenerOnDone();
  EXPECT_EQ(Call(kClose, {open.params[0]}).ret, Value::Int(1));
  EXPECT_TRUE(Idle());
}

}  // namespace
}  // namespace vtsd
