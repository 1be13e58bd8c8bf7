// The driver against the terminal simulator program over loopback.
#include <fstream>
#include <iterator>

#include "base/temp_dir.hpp"
#include "link/application_version.hpp"
#include "link/remote_files.hpp"
#include "link_fixture.hpp"
#include "sim_process.hpp"
#include "tests/support/raised_text.hpp"

namespace vtsd {
namespace {

using test::RaisedText;
using testing::CallResult;
using testing::kClose;
using testing::kDeviceTest;
using testing::kOpen;
using testing::SimProcess;
using Strings = std::vector<std::string>;

const TerminalLocation kOrders{"OrderDir", "", "Orders.db"};

std::vector<uint8_t> Pattern(std::size_t size) {
  std::vector<uint8_t> b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + (i >> 7));
  return b;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SimIntegrationTest : public testing::LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    SetTempDir(sim.root + "-pc/");
    ASSERT_EQ(std::system(("mkdir -p '" + sim.root + "-pc'").c_str()), 0);
  }
  // Starts the simulator and opens the connection to it.
  SocketHandle Connect(const std::vector<std::string>& options = {}) {
    EXPECT_TRUE(sim.Start(ConnectionSettings().PortNumber, options));
    const CallResult open = Call(kOpen);
    EXPECT_EQ(open.ret, Value::Int(1)) << open.reported;
    return DeviceSocket();
  }
  // Closes the connection; the simulator ends on "Disconnect".
  void Disconnect() {
    EXPECT_EQ(Call(kClose, {Value::Int(DeviceId())}).ret, Value::Int(1));
    EXPECT_EQ(sim.Wait(5000), 0);
  }

  SimProcess sim;
};

TEST_F(SimIntegrationTest, OpenDeviceTestAndClose) {
  Connect({"--version", "5.0.1", "--model", "VT-80"});
  const CallResult r = Call(kDeviceTest);
  EXPECT_EQ(r.params[0], Value::Text("\rИмя ПО: Merxa\rВерсия: 5.0.1\rМодель ТСД: VT-80"));
  EXPECT_EQ(r.ret, Value::Int(1));
  Disconnect();
  EXPECT_EQ(sim.Commands(), (Strings{"GetFuture", "GetFuture", "GetTerminalVersion", "Disconnect"}));
  EXPECT_TRUE(Idle());
}

TEST_F(SimIntegrationTest, DeviceTestFromIdleDisconnectsItself) {
  ASSERT_TRUE(sim.Start(ConnectionSettings().PortNumber));
  const CallResult r = Call(kDeviceTest);
  EXPECT_EQ(r.ret, Value::Int(1)) << r.reported;
  EXPECT_EQ(sim.Wait(5000), 0);
  EXPECT_TRUE(Idle());
}

TEST_F(SimIntegrationTest, UploadAndDownloadInPiecesAsTheTerminalSeesThem) {
  Connect({"--max-packet", "300", "--numbers", "8"});
  TerminalSession& device = Session();
  WriteFile(TempPath("Merxa.db"), Pattern(1000));
  UploadDatabaseFile(device, "Merxa.db", TerminalLocation{"MerxaDir", "", "Merxa.db"});
  EXPECT_EQ(ReadFile(sim.root + "/Merxa5/Merxa.db"), Pattern(1000));

  // Fetch it back under the name the download column knows.
  WriteFile(sim.root + "/MerxaSetup.db", Pattern(1000));
  DownloadDatabaseFile(device, TerminalLocation{"", "\\", "MerxaSetup.db"}, "Copy.db");
  EXPECT_EQ(ReadFile(TempPath("Copy.db")), Pattern(1000));
  Disconnect();

  const auto requests = sim.Requests();
  Strings commands;
  std::vector<int> writes, reads;
  for (const auto& r : requests) {
    commands.push_back(r["command"]);
    if (r["command"] == "WriteFile") writes.push_back(r["count"]);
    if (r["command"] == "ReadFile") reads.push_back(r["count"]);
  }
  EXPECT_EQ(commands,
            (Strings{"GetFuture", "GetHrpMaxBuffer", "ExistFile", "CreateFile", "OpenFile", "WriteFile",
                     "WriteFile", "WriteFile", "WriteFile", "CloseFile", "ExistFile", "OpenFile",
                     "GetHrpMaxBuffer", "LengthFile", "ReadFile", "ReadFile", "ReadFile", "ReadFile",
                     "CloseFile", "Disconnect"}));
  EXPECT_EQ(requests[0]["key"], "MerxaDir");
  EXPECT_EQ(requests[2]["path"], "\\Merxa5\\Merxa.db");
  EXPECT_EQ(requests[10]["path"], "\\MerxaSetup.db");
  EXPECT_EQ(writes, (std::vector<int>{282, 282, 282, 154}));
  EXPECT_EQ(reads, (std::vector<int>{300, 300, 300, 100}));
}

TEST_F(SimIntegrationTest, ShortLastPiecesReachTheFile) {
  Connect({"--max-packet", "64"});
  TerminalSession& device = Session();
  for (std::size_t size : {1u, 3u, 42u, 43u, 64u * 2 + 5}) {
    SCOPED_TRACE(size);
    WriteFile(sim.root + "/Merxa5/Order/Orders.db", Pattern(size));
    DownloadDatabaseFile(device, kOrders, "Orders.db");
    EXPECT_EQ(ReadFile(TempPath("Orders.db")), Pattern(size));
  }
  Disconnect();
}

TEST_F(SimIntegrationTest, MissingFilesAreReportedOrRefused) {
  Connect();
  TerminalSession& device = Session();
  EXPECT_EQ(FetchDatabaseFileIfPresent(device, TerminalLocation{"", "Merxa5\\Order\\", "Podbor.db"}, "Podbor.db"),
            FetchResult::Missing);
  EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(device, kOrders, "Orders.db"); }),
            "4The requested file is missing on the device.");
  Disconnect();
  const auto requests = sim.Requests();
  EXPECT_EQ(requests.at(0)["path"], "Merxa5\\Order\\Podbor.db");
}

TEST_F(SimIntegrationTest, FaultsOfTheTerminalFailWithTheirMessages) {
  struct Case {
    std::vector<std::string> options;
    const char* message;
  };
  // Requests of a download: GetFuture, ExistFile, OpenFile, GetHrpMaxBuffer,
  // LengthFile, ReadFile...
  const std::vector<Case> cases = {
      {{"--close-at", "6"}, "4TSD Disconnected."},
      {{"--stall-at", "6"}, "4During an exchange relationship with TSD was broken again exchange."},
      {{"--bad-length-at", "5"},
       "4An error occurred while receiving a reply from the TSD, the reply does not match the request."},
      {{"--zero", "OpenFile"}, "4Error when opening a file on the TSD."},
      {{"--zero", "LengthFile"}, "4An error occurred while getting the file size of the TSD."},
      {{"--max-packet", "18"}, "4An error occurred while receiving the packet size of the TSD."},
      {{"--order-dir", "\\"}, "4An error occurred while getting a directory from TSD."},
  };
  SetExchangeTimeLimitMs(500);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    SimProcess s;
    std::vector<std::string> options = c.options;
    ASSERT_TRUE(s.Start(ConnectionSettings().PortNumber, options));
    ASSERT_EQ(Call(kOpen).ret, Value::Int(1));
    WriteFile(s.root + "/Merxa5/Order/Orders.db", Pattern(500));
    EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(Session(), kOrders, "Orders.db"); }), c.message);
    EndConnection();
  }
}

}  // namespace
}  // namespace vtsd
