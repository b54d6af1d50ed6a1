// Names as the command lines write them (names in any case) looked up as Windows looks them
// up: a name that exists with its exact case is that entry, found without reading the folder;
// else the first entry, in the order the folder itself gives (readdir), that is equal to it but
// for the case of ASCII letters, as Wine and so the game under Wine take it; else the name as
// written (a file or folder yet to be made). Nothing is changed on disk.
#pragma once

#include <string>
#include <string_view>

namespace linux_shell {

/// The entry of the folder `folder` (a handle, O_PATH will do) that `name` stands for, as above.
/// A folder that may not be read gives the name as written.
std::string find_entry(int folder, std::string_view name);

}  // namespace linux_shell
