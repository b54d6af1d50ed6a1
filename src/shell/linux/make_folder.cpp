#include "shell/linux/make_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "shell/linux/files.hpp"
#include "shell/linux/path_walk.hpp"

namespace linux_shell {

Result make_folder(std::string_view written, bool& existed) {
  existed = false;
  Place place;
  if (Result walked = walk(written, Walking::to_write, place); !walked.ok()) {
    return walked;
  }
  if (place.exists) {
    existed = S_ISDIR(place.st.st_mode);
    return existed ? Result{} : Result::from_errno(EEXIST);
  }
  if (mkdirat(place.folder.get(), place.name.c_str(), 0777) != 0) {
    return errno_result();
  }
  // The new folder's entry is durable before anything is copied into it: where its parent
  // cannot be read, the new folder itself opens the way to its file system.
  const Fd made(openat(place.folder.get(), place.name.c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (Result flushed = flush_folder_of(place, made.get()); !flushed.ok()) {
    return std::move(flushed).followed_by(" (flushing the folder " + place.folder_shown +
                                          "; the folder is made but may not survive a power "
                                          "cut)");
  }
  return {};
}

}  // namespace linux_shell
