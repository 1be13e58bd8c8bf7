// Files from the terminal are input: every hostile file of the table ends
// in the coded message (or in the call's own work, with nothing of the
// file's code run), and the next call on an honest file works.
#include <gtest/gtest.h>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "selection/document_download.hpp"
#include "selection/selection_window.hpp"
#include "tests/selection/fixtures.hpp"
#include "tests/selection/hostile_files.hpp"

namespace vtsd {
namespace {

class HostileFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMessageLanguage(Language::English); }
  void TearDown() override { SetMessageLanguage(Language::Russian); }
  test::ScratchTempDir scratch;
  test::ScriptedDialogs dialogs;
};

TEST_F(HostileFilesTest, EachEndsInItsMessageAndTheNextCallWorks) {
  const test::HostileFileCase& honest = test::HostileFileCases().front();
  for (const test::HostileFileCase& c : test::HostileFileCases()) {
    SCOPED_TRACE(c.name);
    test::WriteHostileFile(c);
    EXPECT_EQ(test::RunHostileFileCase(c), c.message);
    if (c.untouched_query != nullptr) {
      EXPECT_EQ(test::Db(TempPath(c.file)).Rows(c.untouched_query), (std::vector<std::vector<std::string>>{{"0"}}));
    }
    // The driver's state is whole: an honest file read next gives its lines.
    test::WriteHostileFile(honest);
    ASSERT_EQ(test::RunHostileFileCase(honest), "");
    EXPECT_NE(DocumentXml().find("BarCode='4601234567891' Quantity='1.5'"), std::string::npos) << DocumentXml();
  }
}

TEST_F(HostileFilesTest, TaskGoesIntoAFileWhoseTriggerStaysUnrun) {
  // The trigger case succeeds: the task is in the file, the file's own
  // trigger never ran, and the file still holds it for the terminal.
  for (const test::HostileFileCase& c : test::HostileFileCases()) {
    if (std::string(c.name) != "trigger on the task registry") continue;
    test::WriteHostileFile(c);
    ASSERT_EQ(test::RunHostileFileCase(c), "");
    test::Db db(TempPath(c.file));
    EXPECT_EQ(db.Rows("SELECT Name FROM Registry ORDER BY N"),
              (std::vector<std::vector<std::string>>{{"Honest"}, {"Picking"}}));
    EXPECT_EQ(db.Names("trigger"), (std::vector<std::string>{"grow"}));
    return;
  }
  FAIL() << "no trigger case in the table";
}

}  // namespace
}  // namespace vtsd
