// "md": a folder made where the walk by handles leads (path_walk.hpp), and made durable.
#pragma once

#include <string_view>

#include "shell/linux/result.hpp"

namespace linux_shell {

/// Creates the folder `written` (a name as the command line writes it), made durable in its
/// parent before it returns, as a copy's target is (path_walk.hpp: flush_folder_of); a flush
/// that fails is reported, though the folder is made. A folder that exists (or a link of the user's
/// or root's to one) is left as it was, and `existed` says so. Anything else under that name fails
/// with EEXIST; what the walk refuses fails as the walk says.
Result make_folder(std::string_view written, bool& existed);

}  // namespace linux_shell
