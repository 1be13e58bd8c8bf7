// The catalogue operations behind UploadTable and ClearTable: the package
// pipeline that carries an upload from call to call, the field-caption sync
// with the terminal's settings file, and the empty catalogue that clears the
// terminal.
#pragma once

#include <cstdint>
#include <string>

#include "base/messages.hpp"
#include "link/session.hpp"

namespace vtsd {

// Asks the terminal for its application version; a version other than 5 is
// refused with the unsupported-version message naming it. Then runs
// UploadCatalogue. Returns true.
bool UploadTableOperation(TerminalSession& session, std::string table_text,
                          const std::string& package_status);

// One package of an upload. "first" starts a new catalogue; "regular" adds to
// the one in progress (and is ignored without one); "last" adds the package
// (starting a catalogue first when none is in progress), finishes the
// catalogue, updates the terminal's field captions and sends "Merxa.db".
// A "last" that fails after its package is in keeps what it had done: the
// same package again runs only the steps still to do, a different one takes
// its place beside the earlier packages. After ClearTable has ended an
// upload begun with "first", its "regular" and "last" are refused until the
// next "first"; after a failed "last", a "regular" is refused. Returns true.
bool UploadCatalogue(TerminalSession& session, std::string table_text,
                     const std::string& package_status);

// Fetches "MerxaSetup.db" from the terminal, writes the field captions into
// it and sends it back. Returns true.
bool SyncFieldCaptions(TerminalSession& session);

// Replaces the terminal's catalogue by an empty one when its application
// version is 5, ending the upload in progress; does nothing for any other
// version. Returns true.
bool ClearTableOperation(TerminalSession& session);

namespace upload_text {
extern const Msg kUnsupportedVersionStart;
extern const Msg kUnsupportedVersionEnd;
extern const Msg kNotStarted;
extern const Msg kLastTaken;
extern const Msg kKeepEarlier;
}  // namespace upload_text

}  // namespace vtsd
