// The terminal application: the version query every table
// operation starts with, and the device test with its description text.
#pragma once

#include <string>

#include "link/session.hpp"

namespace vtsd {

// Asks "ProgrammVersion", keeps the answer as the session's app_version and
// returns it.
std::string QueryAppVersion(TerminalSession& session);

// Connects first when no connection exists (and closes that connection again,
// also on failure); returns CR "Имя ПО: " name CR "Версия: " version
// CR "Модель ТСД: " model.
std::string DeviceTest();

}  // namespace vtsd
