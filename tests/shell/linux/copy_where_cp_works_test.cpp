// copy where cp works: on drives that refuse calls a copy may not need, full or read-only ones,
// into an append-only folder or onto an immutable file, and into a folder the player may write
// but not read, which is flushed with its file system.
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "shell/linux/files.hpp"
#include "support/durable_copy.hpp"
#include "support/refuse.hpp"

namespace {

using namespace support;
using linux_shell::Fd;

TEST_F(DurableCopy, CopyWorksWhereCpWorks) {
  // A folder of the player's that the player may write but not read.
  const bool player = PlayersStateFolder();
  fs::create_directories("write-only");
  WriteFile("write-only/a.ini", "old");
  WriteFile("write-only/b.ini", "old");
  bool handed = player;
  for (const char* path : {"write-only", "write-only/a.ini", "write-only/b.ini"}) {
    handed = handed && HandTo(path, 12345, 12345);
  }
  chmod("write-only", 0333);
  WriteFile("fat.ini", "old");
  // An append-only folder: a temporary file could be named there but never renamed or removed.
  fs::create_directories("append");
  WriteFile("append/a.ini", "old");
  WriteFile("append/immutable.ini", "old");
  const Fd append(open("append", O_RDONLY | O_DIRECTORY));
  const Fd immutable(open("append/immutable.ini", O_RDONLY));
  int flags = 0;
  int file_flags = 0;
  const bool append_only =
      ioctl(append.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
      (flags |= FS_APPEND_FL, ioctl(append.get(), FS_IOC_SETFLAGS, &flags) == 0) &&
      ioctl(immutable.get(), FS_IOC_GETFLAGS, &file_flags) == 0 &&
      (file_flags |= FS_IMMUTABLE_FL, ioctl(immutable.get(), FS_IOC_SETFLAGS, &file_flags) == 0);
  const std::string append_error = append_only ? "" : std::strerror(errno);
  // Drives that refuse calls a copy may not need: NTFS removing an ACL that is not there, FAT
  // any change of length; and a folder whose default ACL grants more than the target.
  WriteFile("ntfs.ini", "old");
  fs::create_directories("inherit");
  WriteFile("inherit/a.ini", "old");
  const std::string acl = DenyingAcl();
  const bool inherits =
      setxattr("inherit", "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;
  enum { anyone, as_player, an_append_only_folder, a_default_acl };
  const Rows rows = RunRows(
      {
          {"chmod.ini",
           [] {
             return Refuse({__NR_fchmod, __NR_fchmodat}, ENOSYS);
           },
           anyone, "", kNew},
          // A full FAT volume refuses new files with EPERM: a full disk, not a folder to write
          // into.
          {"fat.ini",
           [] { return Refuse({__NR_openat}, EPERM, O_CREAT | 020000000 /* O_TMPFILE */); }, anyone,
           "Cannot copy to fat.ini: no new file could be made in this folder: Operation not "
           "permitted\n",
           "old"},
          // A read-only drive, and a full one: what to do, and what was kept.
          {"fat.ini", [] { return Refuse({__NR_openat}, EROFS, O_CREAT | 020000000); }, anyone,
           "Cannot copy to fat.ini: no new file could be made in this folder: Read-only file "
           "system; the drive is mounted read-only (a dual-boot NTFS drive is while Windows "
           "hibernates or keeps Fast Startup: shut Windows down fully, then mount it again)\n",
           "old"},
          {"fat.ini",
           [] {
             return Refuse({__NR_copy_file_range, __NR_pwrite64}, ENOSPC);
           },
           anyone,
           "Cannot copy to fat.ini: No space left on device; fat.ini is unchanged: free some "
           "space and copy it again\n",
           "old"},
          {"append/immutable.ini", nullptr, an_append_only_folder,
           "Cannot copy to append/immutable.ini: Operation not permitted; append/immutable.ini "
           "is marked immutable: lift that with sudo chattr -i append/immutable.ini, then copy "
           "again\n",
           "old"},
          // A folder that cannot be read is flushed with its file system, and a failure is told.
          {"write-only/a.ini", BecomePlayer, as_player, "", kNew},
          {"write-only/b.ini", [] { return BecomePlayer() && Refuse({__NR_syncfs}, EIO); },
           as_player,
           "Cannot copy to write-only/b.ini: Input/output error (flushing the folder write-only; "
           "the copy is in place but may not survive a power cut)\n",
           kNew},
          {"closed.ini", [] { return Refuse({__NR_close}, EIO); }, anyone, "", kNew},
          {"append/a.ini", nullptr, an_append_only_folder, "", kNew},
          {"ntfs.ini", [] { return Refuse({__NR_fremovexattr}, EPERM); }, anyone, "", kNew},
          {"fusefat.ini", [] { return Refuse({__NR_ftruncate}, EPERM); }, anyone, "", kNew},
          {"inherit/a.ini", [] { return Refuse({__NR_fremovexattr}, EPERM); }, a_default_acl,
           "Cannot copy to inherit/a.ini: the folder's default ACL could not be taken off the "
           "copy: Operation not permitted\n",
           "old"},
          // A drive whose writes take nothing: a failure, never a write tried for ever.
          {"fat.ini",
           [] {
             return Refuse({__NR_copy_file_range, __NR_pwrite64}, 0);
           },
           anyone, "Cannot copy to fat.ini: Input/output error\n", "old"},
      },
      {{true, ""},
       {handed, "needs root, to run as a player and to hand the player's files to the player"},
       {append_only, "cannot make a folder append-only and a file immutable here: " + append_error},
       {inherits, "cannot give a folder a default ACL here"}});
  flags &= ~FS_APPEND_FL;
  ioctl(append.get(), FS_IOC_SETFLAGS, &flags);
  file_flags &= ~FS_IMMUTABLE_FL;
  ioctl(immutable.get(), FS_IOC_SETFLAGS, &file_flags);
  chmod("write-only", 0755);  // for the listing below, where the tests' user cannot read it
  EXPECT_EQ(Names(), (std::set<std::string>{
                         "new.ini", "state/", "write-only/", "write-only/a.ini", "write-only/b.ini",
                         "append/", "append/a.ini", "append/immutable.ini", "chmod.ini", "fat.ini",
                         "closed.ini", "ntfs.ini", "fusefat.ini", "inherit/", "inherit/a.ini"}));
  if (rows.AnySkipped()) {
    GTEST_SKIP() << rows.Report();
  }
}

}  // namespace
