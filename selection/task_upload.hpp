// Selection-task upload: a named picking task from 1C is added to the
// terminal's task file "Podbor.db" (fetched, changed locally in one
// transaction, sent back), asking the user before a task of the same name
// is replaced.
#pragma once

#include <cstdint>
#include <string>

#include "base/messages.hpp"
#include "platform/locale_formats.hpp"
#include "link/session.hpp"

namespace vtsd {

// Reads the local date and time once (the platform clock in the driver; a
// fixed instant in tests).
using LocalClock = platform::LocalDateTimeText (*)();

// Fetches the terminal's "Podbor.db" into TempDir. A terminal without one,
// or with an empty one (a transfer that never finished), gets a fresh empty
// task file instead.
void FetchSelectionDatabase(TerminalSession& session);

// The task key of an upload at `time_text` (the long time format): "0000"
// followed by the digits of the time, whatever the locale puts between them.
std::string TaskKey(const std::string& time_text);
// The key after `key`: its digits after "0000" one more, in decimal.
std::string NextTaskKey(const std::string& key);

// The Registry row's Date: the date, one blank, the time.
std::string TaskDateText(const platform::LocalDateTimeText& now);

// The operation behind UnloadTaskForSelection: asks the terminal's
// application version and, for version 5, runs UploadSelectionTask. Other
// versions transfer nothing. Returns true unless a DriverError is raised.
bool UnloadTaskForSelection(TerminalSession& session, const std::string& xml_table,
                            LocalClock clock = platform::CurrentLocalDateTime);

// Fetches "Podbor.db", adds the task and sends the file back. A failure
// before the send leaves the terminal's file as it was.
void UploadSelectionTask(TerminalSession& session, const std::string& xml_table,
                         LocalClock clock = platform::CurrentLocalDateTime);

// Adds the task in `xml_table` to TempDir + file_name in one transaction:
// either the whole task is added or the file stays as it was. Returns true;
// raises DriverError otherwise (SQLite's own text for a failing lookup,
// drop, creation or registry insert).
bool AddSelectionTask(const std::string& xml_table, const std::string& file_name,
                      LocalClock clock = platform::CurrentLocalDateTime);

namespace task_upload_text {
extern const Msg kXmlInvalid;
extern const Msg kOpenFailed;
extern const Msg kNoTable;
extern const Msg kCanceled;
extern const Msg kInsertFailed;
extern const Msg kQuestionCaption;
extern const Msg kQuestionPrefix;  // task name follows
extern const Msg kQuestionSuffix;
}  // namespace task_upload_text

}  // namespace vtsd
