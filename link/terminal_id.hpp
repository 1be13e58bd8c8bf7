// Which terminal the session talks to. The protocol names no serial number,
// and terminals in a cradle all reach the computer at one address, so the
// driver keeps an identifier of its own on each terminal: the file
// "\VemlarTSD.id" in the terminal's root (beside MerxaSetup.db), holding 32
// hexadecimal digits (128 random bits) and a line end. A terminal without
// the file gets a new one; deleting it is harmless (the terminal then gets
// a new identifier, and copies kept under the old one are not restored).
#pragma once

#include <string>

#include "link/session.hpp"

namespace vtsd {

// The terminal's identifier, established at the first call of a connection
// (the identity file read, or written where there is none or it holds no
// identifier) and remembered by the session for the rest of it. "" when the
// terminal's file can be neither read nor written: the driver then keeps no
// copies for it. A failure that breaks the session is raised.
const std::string& TerminalId(TerminalSession& session);

// Whether `text` is the content of an identity file: 32 lower-case
// hexadecimal digits, then optionally a line end. Gives the identifier.
bool ParseTerminalId(const std::string& text, std::string& id);

}  // namespace vtsd
