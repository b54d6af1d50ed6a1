// md and copy: folders made, files replaced only by complete copies, in a scratch folder.
#include <grp.h>
#include <linux/filter.h>
#include <linux/fs.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "console/linux/fd.hpp"
#include "console/linux/temporary_file.hpp"
#include "support/scratch_shell.hpp"

namespace {

using namespace support;
using linux_shell::Fd;

class DurableCopy : public ShellTest {};

TEST_F(DurableCopy, CopyReplacesTheTargetWithTheSourcesTimeAndTheBitsCpGives) {
  fs::create_directories("System");
  fs::create_directories("Backups");
  // The player's own files, named like temporary files of old, are not the program's to remove.
  WriteFile("System/.sk-backup-notes1", "mine");
  WriteFile("Backups/.sk-backup-2024v1", "mine");
  const mode_t mask = umask(0);
  umask(mask);
  struct Case {
    mode_t source_bits;
    const char* target;
    mode_t target_bits;  // 0: no target yet
    mode_t expected;     // a target that existed keeps its bits; a new one: the source's less umask
  };
  for (const Case& c :
       {Case{0640, "Backups/a.ini", 0604, 0604}, Case{0777, "Backups/new.ini", 0, 0777 & ~mask}}) {
    WriteFile("System/a.ini", "new");
    chmod("System/a.ini", c.source_bits);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 123456789}};
    utimensat(AT_FDCWD, "System/a.ini", times, 0);
    if (c.target_bits != 0) {
      WriteFile(c.target, "old");
      chmod(c.target, c.target_bits);
    }
    const Output output = RunLine((std::string("copy System\\a.ini ") + c.target).c_str());
    EXPECT_EQ(output.out + output.err, "1 file copied.\n");
    EXPECT_EQ(ReadFile(c.target), "new");
    struct stat st;
    ASSERT_EQ(stat(c.target, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << c.target;
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"System/", "System/a.ini", "System/.sk-backup-notes1",
                                            "Backups/", "Backups/a.ini", "Backups/new.ini",
                                            "Backups/.sk-backup-2024v1"}));
}

TEST_F(DurableCopy, FailedCopyLeavesTheTargetAsItWas) {
  fs::create_directories("S/folder.ini");
  fs::create_directories("D/folder.ini");
  WriteFile("S/a.ini", std::string(100000, 'n'));
  WriteFile("D/a.ini", "old");
  fs::create_symlink("loop.ini", "D/loop.ini");
  fs::create_symlink("/proc/self/pagemap", "D/pagemap.ini");  // more bytes than its size says
  struct Case {
    const char* line;
    const char* report;
  };
  const Case cases[] = {
      {"copy S\\none.ini D\\a.ini", "Cannot copy S\\none.ini: No such file or directory\n"},
      {"copy S\\folder.ini D\\a.ini", "Cannot copy S\\folder.ini: Is a directory\n"},
      {"copy S\\a.ini Missing\\a.ini",
       "Cannot copy to Missing\\a.ini: No such file or directory\n"},
      {"copy S\\a.ini D\\folder.ini", "Cannot copy to D\\folder.ini: Is a directory\n"},
      {"copy S\\a.ini D\\loop.ini",
       "Cannot copy to D\\loop.ini: Too many levels of symbolic links\n"},
      {"copy D\\a.ini D\\A.INI", "Cannot copy to D\\A.INI: It is the same file as the source\n"},
      {"copy D\\pagemap.ini D\\a.ini",
       "Cannot copy D\\pagemap.ini: D\\pagemap.ini -> /proc is one "
       "of the kernel's files, not a file on a disk\n"},
  };
  const std::set<std::string> before = Names();
  for (const Case& c : cases) {
    const Output output = RunLine(c.line);
    EXPECT_EQ(output.out, "") << c.line;
    EXPECT_EQ(output.err, c.report) << c.line;
    EXPECT_EQ(ReadFile("D/a.ini"), "old") << c.line;
    EXPECT_EQ(Names(), before) << c.line;
  }
}

TEST_F(DurableCopy, CopyOntoALinkReplacesTheFileItPointsTo) {
  fs::create_directories("real");
  fs::create_directories("links");
  WriteFile("new.ini", "new");
  WriteFile("real/target.ini", "old");
  fs::create_symlink("../real/target.ini", "links/hop.ini");
  fs::create_symlink("hop.ini", "links/a.ini");
  EXPECT_EQ(RunLine("copy new.ini links\\a.ini").out, "1 file copied.\n");
  EXPECT_TRUE(fs::is_symlink("links/a.ini"));
  EXPECT_TRUE(fs::is_symlink("links/hop.ini"));
  EXPECT_EQ(ReadFile("real/target.ini"), "new");
  // A file whose name is as long as names go: the temporary name beside it is short.
  const std::string long_name(245, 'n');
  WriteFile("real/" + long_name, "old");
  fs::create_symlink("../real/" + long_name, "links/long.ini");
  EXPECT_EQ(RunLine("copy new.ini links\\long.ini").out, "1 file copied.\n");
  EXPECT_EQ(ReadFile("real/" + long_name), "new");
  // Nothing is left beside the targets, the links stay links, and no file is made in their place.
  EXPECT_EQ(Names(),
            (std::set<std::string>{"new.ini", "real/", "real/target.ini", "real/" + long_name,
                                   "links/", "links/hop.ini", "links/a.ini", "links/long.ini"}));
}

TEST_F(DurableCopy, MdCreatesOrReportsWhatIsInTheWay) {
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "");
  EXPECT_TRUE(fs::is_directory("Skulvane_Backups"));
  WriteFile("Skulvane_Backups/keep", "x");
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "Folder Skulvane_Backups already exists.\n");
  EXPECT_EQ(RunLine("md SKULVANE_backups").err, "Folder SKULVANE_backups already exists.\n");
  EXPECT_EQ(Names(), (std::set<std::string>{"Skulvane_Backups/", "Skulvane_Backups/keep"}));
}

/// An access ACL (user::rw-, user:1234:r--, group::---, mask::r--, other::---) as the kernel
/// keeps it: a file of mode 0640 whose group may read nothing.
std::string DenyingAcl() {
  const unsigned entries[][3] = {
      {1, 6, ~0u}, {2, 4, 1234}, {4, 0, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
  std::string acl("\x02\0\0\0", 4);
  for (const auto& entry : entries) {
    const std::uint16_t tag_and_perm[2] = {static_cast<std::uint16_t>(entry[0]),
                                           static_cast<std::uint16_t>(entry[1])};
    acl.append(reinterpret_cast<const char*>(tag_and_perm), 4);
    acl.append(reinterpret_cast<const char*>(&entry[2]), 4);
  }
  return acl;
}

std::string Attribute(const char* path, const char* name) {
  char value[256];
  const ssize_t size = getxattr(path, name, value, sizeof value);
  return size < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(size));
}

TEST_F(DurableCopy, AReplacedFileKeepsWhatCpKeepsAndHolesStayHoles) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand a file to another user and to set a capability";
  }
  WriteFile("backup.ini", "new");
  fs::create_directories("inherit");
  for (const char* name :
       {"live.ini", "acl.ini", "attributes.ini", "capable.ini", "inherit/plain.ini"}) {
    WriteFile(name, "old");
  }
  ASSERT_EQ(chown("live.ini", 777, 888), 0);
  const std::string acl = DenyingAcl();
  ASSERT_EQ(setxattr("acl.ini", "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
  ASSERT_EQ(setxattr("attributes.ini", "user.note", "kept", 4, 0), 0);
  const char capability[20] = {0, 0, 0, 2, 0, 0x20};  // version 2, CAP_NET_BIND_SERVICE
  ASSERT_EQ(setxattr("capable.ini", "security.capability", capability, sizeof capability, 0), 0);
  // The folder's default ACL would give the new file entries that the old one did not have.
  ASSERT_EQ(setxattr("inherit", "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
  struct Case {
    const char* target;
    const char* attribute;
    std::string expected;
  };
  for (const Case& c : {Case{"acl.ini", "system.posix_acl_access", acl},
                        Case{"attributes.ini", "user.note", "kept"},
                        Case{"capable.ini", "security.capability", "(none)"},
                        Case{"inherit/plain.ini", "system.posix_acl_access", "(none)"},
                        Case{"live.ini", "user.note", "(none)"}}) {
    EXPECT_EQ(RunLine((std::string("copy backup.ini ") + c.target).c_str()).out,
              "1 file copied.\n");
    EXPECT_EQ(ReadFile(c.target), "new") << c.target;
    EXPECT_EQ(Attribute(c.target, c.attribute), c.expected) << c.target;
  }
  struct stat st;
  ASSERT_EQ(stat("live.ini", &st), 0);
  EXPECT_EQ(st.st_uid, 777u);
  EXPECT_EQ(st.st_gid, 888u);

  // A file that is nearly all hole takes no more room as a copy.
  {
    const Fd sparse(open("sparse.ini", O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(pwrite(sparse.get(), "end", 3, off_t{256} << 20), 3);
  }
  EXPECT_EQ(RunLine("copy sparse.ini copy.ini").out, "1 file copied.\n");
  ASSERT_EQ(stat("copy.ini", &st), 0);
  EXPECT_EQ(st.st_size, (off_t{256} << 20) + 3);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);
}

// What a child does before its copy.
bool BecomePlayer() {
  return setgroups(0, nullptr) == 0 && setgid(12345) == 0 && setuid(12345) == 0;
}

/// Makes the calls `calls` fail with `error`, as a file system or a filter would refuse them.
/// With `flags`, an openat only where its flags hold one of them.
bool Refuse(std::initializer_list<long> calls, int error, unsigned flags = 0) {
  std::vector<struct sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr))};
  for (const long call : calls) {  // each a match that jumps to the last but one: the refusal
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 1));
    filter.push_back(BPF_STMT(BPF_JMP | BPF_JA | BPF_K, 0));  // fixed below
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  if (flags != 0) {
    filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[2])));
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, flags, 1, 0));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<__u32>(error)));
  const std::size_t refusal = filter.size() - (flags != 0 ? 4 : 1);
  for (std::size_t i = 2; i < refusal; i += 2) {
    filter[i].k = static_cast<__u32>(refusal - i - 1);
  }
  const struct sock_fprog program = {static_cast<unsigned short>(filter.size()), filter.data()};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

bool FewDescriptors() {  // the standard streams and three more
  const struct rlimit limit = {6, 6};
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// Longer than a file may grow under SmallFileSizeLimit(), and a report line may not.
const char kNew[] =
    "new settings: a line longer than the limit below, and so is the whole file; new settings";

bool SmallFileSizeLimit() {  // a write stops part-way, as on a full disk
  const struct rlimit limit = {64, 64};
  return signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TEST_F(DurableCopy, CopyWorksWhereCpWorks) {
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(".", 0755), 0);
  WriteFile("new.ini", kNew);
  // A folder that takes no file of the player's around files the player may or may not write,
  // one of them with a second name.
  fs::create_directories("shared");
  for (const char* name : {"writable.ini", "locked.ini", "big.ini", "linked.ini"}) {
    WriteFile(fs::path("shared") / name, "old");
    chmod((fs::path("shared") / name).c_str(), std::string(name) == "locked.ini" ? 0644 : 0666);
  }
  fs::create_hard_link("shared/linked.ini", "shared/linked-too.ini");
  // A sticky folder holding another user's file that the player may write.
  fs::create_directories("sticky");
  chmod("sticky", 01777);
  WriteFile("sticky/other.ini", "old");
  chmod("sticky/other.ini", 0666);
  // A folder of the player's that the player may write but not read.
  fs::create_directories("write-only");
  WriteFile("write-only/a.ini", "old");
  WriteFile("write-only/b.ini", "old");
  if (root) {
    ASSERT_EQ(chown("sticky/other.ini", 777, 777), 0);
    for (const char* path : {"write-only", "write-only/a.ini", "write-only/b.ini"}) {
      ASSERT_EQ(chown(path, 12345, 12345), 0);
    }
  }
  chmod("write-only", 0333);
  // Temporary files that killed copies left, and the player's look-alike beside them.
  const std::string leftover = linux_shell::temporary_name_for("left.ini");
  WriteFile(leftover, "half");
  WriteFile(linux_shell::temporary_name_for("unlockable.ini"), "half");
  WriteFile(".sk-backup-abcdef", "mine");
  WriteFile("fat.ini", "old");
  // Anything at a copy's first-choice temporary name: the copy takes another name at once.
  const std::string held[] = {linux_shell::temporary_name_for("held-by-a-folder.ini"),
                              linux_shell::temporary_name_for("held-by-a-fifo.ini"),
                              linux_shell::temporary_name_for("held-by-a-link.ini"),
                              linux_shell::temporary_name_for("held-by-another-user.ini"),
                              linux_shell::temporary_name_for("held-by-a-lock.ini")};
  fs::create_directory(held[0]);
  mkfifo(held[1].c_str(), 0600);
  fs::create_symlink("new.ini", held[2]);
  WriteFile(held[3], "another user's");
  if (root) {
    ASSERT_EQ(chown(held[3].c_str(), 777, 777), 0);
  }
  WriteFile(held[4], "a running copy's");
  const int lock = open(held[4].c_str(), O_RDONLY);
  ASSERT_EQ(flock(lock, LOCK_SH), 0);
  // An append-only folder: a temporary file could be named there but never renamed or removed.
  fs::create_directories("append");
  WriteFile("append/a.ini", "old");
  const Fd append(open("append", O_RDONLY | O_DIRECTORY));
  int flags = 0;
  const bool append_only =
      ioctl(append.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
      (flags |= FS_APPEND_FL, ioctl(append.get(), FS_IOC_SETFLAGS, &flags) == 0);
  // Drives that refuse calls a copy may not need: NTFS removing an ACL that is not there, FAT
  // any change of length; and a folder whose default ACL grants more than the target.
  WriteFile("ntfs.ini", "old");
  fs::create_directories("inherit");
  WriteFile("inherit/a.ini", "old");
  const std::string acl = DenyingAcl();
  const bool inherits =
      setxattr("inherit", "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;
  enum Needs { anyone, root_for_a_player, an_append_only_folder, a_default_acl };
  struct Case {
    const char* target;
    bool (*prepare)();
    Needs needs;
    const char* report;
    const char* content;
  };
  constexpr Needs as_player = root_for_a_player;
  const Case cases[] = {
      {"left.ini", FewDescriptors, anyone, "", kNew},
      {"shared/writable.ini", BecomePlayer, as_player, "", kNew},
      {"sticky/other.ini", BecomePlayer, as_player, "", kNew},
      {"shared/locked.ini", BecomePlayer, as_player,
       "Cannot copy to shared/locked.ini: Permission denied\n", "old"},
      {"chmod.ini",
       [] {
         return Refuse({__NR_fchmod, __NR_fchmodat}, ENOSYS);
       },
       anyone, "", kNew},
      // A full FAT volume refuses new files with EPERM: a full disk, not a folder to write into.
      {"fat.ini", [] { return Refuse({__NR_openat}, EPERM, O_CREAT | 020000000 /* O_TMPFILE */); },
       anyone,
       "Cannot copy to fat.ini: no new file could be made in this folder: Operation not "
       "permitted\n",
       "old"},
      // In place: a write cut short puts the old bytes back; other names are not written through.
      {"shared/big.ini", [] { return BecomePlayer() && SmallFileSizeLimit(); }, as_player,
       "Cannot copy to shared/big.ini: File too large\n", "old"},
      {"shared/linked.ini", BecomePlayer, as_player,
       "Cannot copy to shared/linked.ini: it has other names (hard links), which would change "
       "with it; the folder takes no new file, so it is left as it was\n",
       "old"},
      // A lock that cannot be taken means busy: that leftover stays.
      {"unlockable.ini", [] { return Refuse({__NR_flock}, ENOLCK); }, anyone, "", kNew},
      // A folder that cannot be read is flushed with its file system, and a failure is told.
      {"write-only/a.ini", BecomePlayer, as_player, "", kNew},
      {"write-only/b.ini", [] { return BecomePlayer() && Refuse({__NR_syncfs}, EIO); }, as_player,
       "Cannot copy to write-only/b.ini: Input/output error (flushing the folder write-only; the "
       "copy is in place but may not survive a power cut)\n",
       kNew},
      {"closed.ini", [] { return Refuse({__NR_close}, EIO); }, anyone, "", kNew},
      {"append/a.ini", nullptr, an_append_only_folder, "", kNew},
      {"held-by-a-folder.ini", nullptr, anyone, "", kNew},
      {"held-by-a-fifo.ini", nullptr, anyone, "", kNew},
      {"held-by-a-link.ini", nullptr, anyone, "", kNew},
      {"held-by-another-user.ini", nullptr, anyone, "", kNew},
      {"held-by-a-lock.ini", nullptr, anyone, "", kNew},
      {"ntfs.ini", [] { return Refuse({__NR_fremovexattr}, EPERM); }, anyone, "", kNew},
      {"fusefat.ini", [] { return Refuse({__NR_ftruncate}, EPERM); }, anyone, "", kNew},
      {"inherit/a.ini", [] { return Refuse({__NR_fremovexattr}, EPERM); }, a_default_acl,
       "Cannot copy to inherit/a.ini: the folder's default ACL could not be taken off the copy: "
       "Operation not permitted\n",
       "old"},
  };
  int skipped = 0;
  for (const Case& c : cases) {
    if ((c.needs == root_for_a_player && !root) ||
        (c.needs == an_append_only_folder && !append_only) ||
        (c.needs == a_default_acl && !inherits)) {
      ++skipped;
      continue;
    }
    const Output output = RunLine((std::string("copy new.ini ") + c.target).c_str(), c.prepare);
    EXPECT_EQ(output.err, c.report) << c.target;
    EXPECT_EQ(ReadFile(c.target), c.content) << c.target;
    EXPECT_FALSE(fs::exists(leftover)) << c.target;
  }
  close(lock);
  flags &= ~FS_APPEND_FL;
  ioctl(append.get(), FS_IOC_SETFLAGS, &flags);
  EXPECT_EQ(ReadFile("shared/linked-too.ini"), "old");
  std::set<std::string> names = {"new.ini",
                                 "shared/",
                                 "shared/writable.ini",
                                 "shared/locked.ini",
                                 "shared/big.ini",
                                 "shared/linked.ini",
                                 "shared/linked-too.ini",
                                 "sticky/",
                                 "sticky/other.ini",
                                 "write-only/",
                                 "write-only/a.ini",
                                 "write-only/b.ini",
                                 "append/",
                                 "append/a.ini",
                                 ".sk-backup-abcdef",
                                 "chmod.ini",
                                 "left.ini",
                                 "fat.ini",
                                 "unlockable.ini",
                                 linux_shell::temporary_name_for("unlockable.ini"),
                                 "closed.ini",
                                 "ntfs.ini",
                                 "fusefat.ini",
                                 "inherit/",
                                 "inherit/a.ini",
                                 held[0] + "/",
                                 held[1],
                                 held[2],
                                 held[3],
                                 held[4]};
  for (const char* target : {"held-by-a-folder.ini", "held-by-a-fifo.ini", "held-by-a-link.ini",
                             "held-by-another-user.ini", "held-by-a-lock.ini"}) {
    names.insert(target);
  }
  EXPECT_EQ(Names(), names);
  if (skipped > 0) {
    GTEST_SKIP() << skipped << " cases need root (to run as another user or to make a folder "
                 << "append-only) or ACLs here";
  }
}

}  // namespace
