// Paths as the command lines write them (backslashes, names in any case), turned into paths of
// this system and looked up as Windows looks them up: a name that exists with its exact case is
// that entry, found without reading the folder; else the first entry, in the order the folder
// itself gives (readdir), that is equal to it but for the case of ASCII letters, as Wine and so
// the game under Wine take it; else the name as written (a file or folder yet to be made).
// Nothing is changed on disk.
#pragma once

#include <string>
#include <string_view>

namespace console {

/// `written` with each backslash a slash and each name matched as above, folder by folder; a
/// leading backslash or slash makes it absolute, and "." and ".." are kept as they are.
std::string resolve_path(std::string_view written);

}  // namespace console
