// Command-line verbs: one exchange with a terminal each, for use without 1C.
//
//   vtsd-host test                               DeviceTest
//   vtsd-host upload FILE.xml [--package-size N] UploadTable, in packages
//   vtsd-host task FILE.xml [--replace]          UnloadTaskForSelection
//   vtsd-host download [--source orders|tasks] [--all | --choose NAME[,NAME...]]
//                                                DownloadTable, the XML on stdout
//   vtsd-host clear                              ClearTable
//
// Every verb takes --address, --port, --timeout and --lang, sets them as the
// driver's settings, opens the connection (except test, which connects by
// itself), runs its method and closes again. The exit status is the driver's
// error code of the first failure (0 for success); progress goes to stderr.
#pragma once

#include <string>
#include <vector>

#include "tools/vtsd-host/backend.hpp"

namespace vtsd::host {

// Exit status for a command line the verb cannot use (unknown option, a
// missing value) and for an input file that cannot be read or split. Both lie
// outside the driver's codes (1..12, 66).
constexpr int kExitUsage = 64;
constexpr int kExitInput = 65;

int RunTestVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args);
int RunUploadVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args);
int RunTaskVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args);
int RunDownloadVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args);
int RunClearVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args);

// Splits an article table into packages of at most `size` records each, every
// package a complete table text with the records in their order. False when
// the text is not a table that can be split (the reason in `error`).
bool SplitArticleTable(const std::string& xml, int size, std::vector<std::string>& packages,
                       std::string& error);

}  // namespace vtsd::host
