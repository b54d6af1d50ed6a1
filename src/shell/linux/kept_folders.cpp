#include "shell/linux/kept_folders.hpp"

#include <fcntl.h>
#include <pthread.h>

#include <climits>
#include <cstring>

#include "shell/linux/mounts.hpp"

namespace linux_shell {

namespace {

struct Kept {
  int fd;        // O_PATH
  int readable;  // O_RDONLY, opened at the first flush; -1 until then
  dev_t device;  // the folder's own
  ino_t inode;
  std::uint64_t mount;
  dev_t parent_device;  // the folder it was found in; 0 for a folder a walk starts from
  ino_t parent_inode;
  char name[NAME_MAX + 1];  // its name there, or the path a walk starts from
};
constexpr int kMostKept = 16;
Kept g_kept[kMostKept];
int g_kept_count = 0;

extern "C" void forget_kept() {
  g_kept_count = 0;
}

}  // namespace

int kept_folder(const FoundIn& found, const struct stat& st, std::uint64_t mount) {
  if (!S_ISDIR(st.st_mode)) {
    return -1;
  }
  for (int i = 0; i < g_kept_count; ++i) {
    const Kept& kept = g_kept[i];
    if (kept.device == st.st_dev && kept.inode == st.st_ino && kept.mount == mount &&
        kept.parent_device == found.device && kept.parent_inode == found.inode &&
        std::strcmp(kept.name, found.name) == 0) {
      return kept.fd;
    }
  }
  return -1;
}

bool any_folder_kept() {
  return g_kept_count > 0;
}

void keep_folder(Fd& folder, const FoundIn& found, const struct stat& st, std::uint64_t mount) {
  static const bool forgotten_in_children = pthread_atfork(nullptr, nullptr, forget_kept) == 0;
  if (!forgotten_in_children || g_kept_count == kMostKept || !S_ISDIR(st.st_mode) ||
      std::strlen(found.name) > NAME_MAX || !known_and_not_fuse(mount)) {
    return;
  }
  for (int i = 0; i < g_kept_count; ++i) {
    if (g_kept[i].fd == folder.get()) {
      return;  // kept already
    }
  }
  Kept& kept = g_kept[g_kept_count++];
  kept = {folder.release(), -1, st.st_dev, st.st_ino, mount, found.device, found.inode, {}};
  std::strcpy(kept.name, found.name);
  folder = Fd::lent(kept.fd);
}

int kept_readable(int fd, bool& kept) {
  for (int i = 0; i < g_kept_count; ++i) {
    Kept& folder = g_kept[i];
    if (folder.fd == fd) {
      if (folder.readable < 0) {
        folder.readable = openat(folder.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      }
      kept = true;
      return folder.readable;
    }
  }
  kept = false;
  return -1;
}

}  // namespace linux_shell
