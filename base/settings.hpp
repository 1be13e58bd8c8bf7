// The four connection settings: the process-wide record, their checks, the
// settings description for the host's form, and the required-settings check
// that runs before every terminal operation.
#pragma once

#include <cstdint>
#include <string>

#include "base/messages.hpp"
#include "base/params.hpp"
#include "base/value.hpp"

namespace vtsd {

struct ConnectionSettingsRecord {
  std::string IpAddress;            // "" = not set
  uint16_t PortNumber = 0;          // 0 = not set
  int32_t TimeOut = -1;             // seconds; -1 = not set
  bool ChooseDownloadSource = false;
};

ConnectionSettingsRecord& ConnectionSettings();

// Init's reset: everything but ChooseDownloadSource goes back to "not set".
void ResetConnectionSettings();

// Validators: each returns the accepted value or raises its "8" message.
void ValidateIpAddress(const std::string& text);
uint16_t ValidatePort(const std::string& text);
int32_t ValidateTimeOut(const std::string& text);
// Raises a LibraryError or DriverError when the value is not acceptable; the
// callers replace that by their invalid-data-type message.
void ValidateBoolean(const Value& value);

// Raises the message of the first of IpAddress, PortNumber, TimeOut not set.
void RequireConnectionSettings();

// The settings description XML in the given language (CR LF line ends).
const char* SettingsDescription(Language language);

// Driver methods 6 and 7.
void HandleGetParameters(MethodCall& call);
void HandleSetParameter(MethodCall& call);

namespace settings_text {
extern const Msg kInvalidType;
extern const Msg kInvalidName;
}  // namespace settings_text

}  // namespace vtsd
