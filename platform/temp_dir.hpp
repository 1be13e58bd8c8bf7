// The user's temporary directory.
#pragma once

#include <string>

namespace vtsd::platform {

// The user's temporary directory, ending with the path separator.
// Windows: GetTempPathW. POSIX: $TMPDIR, else /tmp.
std::string UserTempDirectory();

}  // namespace vtsd::platform
