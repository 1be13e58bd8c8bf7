// TempDir: the user's temporary directory with its trailing separator, read
// at Init. Every local file of the driver lives directly in it.
#pragma once

#include <string>

namespace vtsd {

const std::string& TempDir();
void SetTempDir(std::string directory_with_separator);
// TempDir followed by a file name.
std::string TempPath(const std::string& file_name);

}  // namespace vtsd
