#include "shell/linux/windows_names.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>
#include <cerrno>

#include "shell/linux/ascii_case.hpp"

namespace linux_shell {

std::string find_entry(int folder, std::string_view written) {
  std::string name(written);
  struct stat st;
  if (name == "." || name == ".." || fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
      errno != ENOENT) {
    return name;
  }
  const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) {
      close(fd);
    }
    return name;
  }
  while (const dirent* entry = readdir(dir)) {
    if (equal_ignoring_ascii_case(entry->d_name, name)) {
      name = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return name;
}

}  // namespace linux_shell
