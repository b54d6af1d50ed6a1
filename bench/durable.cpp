// The yardstick: the least work that the program's promise needs, and nothing else. Makes the
// folder Skulvane_Backups, then the same six durable replacements as the session "1 3 y x" (three
// settings files out to the backup folder, three back), each by temporary file, copy, fsync,
// rename and folder fsync. No dialogue, no name lookup, no checks beyond failing on an error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void fail(const char* what) {
  std::perror(what);
  std::exit(1);
}

void replace(const char* source, const char* folder, const char* target) {
  const int in = open(source, O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    fail(source);
  }
  char temporary[64];
  std::snprintf(temporary, sizeof temporary, "%s/.tmp-XXXXXX", folder);
  const int out = mkostemp(temporary, O_CLOEXEC);
  if (out < 0) {
    fail(temporary);
  }
  while (copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0) > 0) {
  }
  if (fsync(out) != 0 || rename(temporary, target) != 0) {
    fail(target);
  }
  close(out);
  close(in);
  const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || fsync(dir) != 0) {
    fail(folder);
  }
  close(dir);
}

}  // namespace

int main() {
  const char* names[] = {"SkAux.ini", "SkulvaneUser.ini", "SkLoadouts.ini"};
  mkdir("Skulvane_Backups", 0777);
  char live[64];
  char copy[64];
  for (const char* name : names) {
    std::snprintf(live, sizeof live, "System/%s", name);
    std::snprintf(copy, sizeof copy, "Skulvane_Backups/BACKUP_%s", name);
    replace(live, "Skulvane_Backups", copy);
  }
  for (const char* name : names) {
    std::snprintf(live, sizeof live, "System/%s", name);
    std::snprintf(copy, sizeof copy, "Skulvane_Backups/BACKUP_%s", name);
    replace(copy, "System", live);
  }
  return 0;
}
