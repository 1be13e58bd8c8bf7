// The identity of the terminal application: the version query every table
// operation starts with, and the device test with its description text.
#pragma once

#include <string>

#include "addin/params.hpp"
#include "platform/socket.hpp"

namespace vtsd {

// The application's version as last answered to QueryAppVersion; "" before.
std::string& AppVersionText();

// Asks "ProgrammVersion", stores the answer in AppVersionText and returns it.
std::string QueryAppVersion(platform::SocketHandle device);

// Connects first when no connection exists (and closes that connection again,
// also on failure); returns CR "Имя ПО: " name CR "Версия: " version
// CR "Модель ТСД: " model.
std::string DeviceTest();

}  // namespace vtsd
