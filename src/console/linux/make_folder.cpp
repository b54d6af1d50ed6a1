#include "console/linux/make_folder.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "console/linux/file_attributes.hpp"
#include "console/linux/path_walk.hpp"

namespace linux_shell {

Result make_folder(std::string_view written, bool& existed) {
  existed = false;
  Place place;
  if (Result walked = walk(written, Side::target, place); !walked.ok()) {
    return walked;
  }
  if (place.exists) {
    existed = S_ISDIR(place.st.st_mode);
    return existed ? Result{} : Result::from_errno(EEXIST);
  }
  if (mkdirat(place.folder.get(), place.name.c_str(), 0777) != 0) {
    return errno_result();
  }
  // The new folder's entry is durable before anything is copied into it.
  const Fd parent = open_folder_for_reading(place);
  return parent ? flush(parent.get()) : Result{};
}

}  // namespace linux_shell
