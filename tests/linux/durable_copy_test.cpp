// md and copy: folders made, files replaced only by complete copies, in a scratch folder.
#include <grp.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "console/linux/fd.hpp"
#include "console/linux/recovery_copy.hpp"
#include "console/linux/temporary_file.hpp"
#include "support/refuse.hpp"
#include "support/scratch_shell.hpp"
#include "support/setup.hpp"

namespace {

using namespace support;
using linux_shell::Fd;

class DurableCopy : public ShellTest {};

const std::string kNoLinkAsRoot =
    ": a run as root follows no link; run sk-backup as the player who plays the game, or replace "
    "the link by what it links to\n";

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
  };                     // either lets no one read it whom the source does not
  for (const Case& c :
       {Case{0644, "Backups/a.ini", 0604, 0604}, Case{0640, "Backups/a.ini", 0666, 0662},
        Case{0777, "Backups/new.ini", 0, 0777 & ~mask}}) {
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
    std::string as_root = {};  // where a run that stays root follows no link
  };
  const Case cases[] = {
      {"copy S\\none.ini D\\a.ini", "Cannot copy S\\none.ini: No such file or directory\n"},
      {"copy S\\folder.ini D\\a.ini", "Cannot copy S\\folder.ini: Is a directory\n"},
      {"copy S\\a.ini Missing\\a.ini",
       "Cannot copy to Missing\\a.ini: No such file or directory\n"},
      {"copy S\\a.ini D\\folder.ini", "Cannot copy to D\\folder.ini: Is a directory\n"},
      {"copy S\\a.ini D\\loop.ini",
       "Cannot copy to D\\loop.ini: Too many levels of symbolic links\n",
       "Cannot copy to D\\loop.ini: Not following D\\loop.ini" + kNoLinkAsRoot},
      {"copy D\\a.ini D\\A.INI", "Cannot copy to D\\A.INI: It is the same file as the source\n"},
      {"copy D\\pagemap.ini D\\a.ini",
       "Cannot copy D\\pagemap.ini: D\\pagemap.ini -> /proc is one "
       "of the kernel's files, not a file on a disk\n",
       "Cannot copy D\\pagemap.ini: Not following D\\pagemap.ini" + kNoLinkAsRoot},
  };
  const std::set<std::string> before = Names();
  for (const Case& c : cases) {
    const Output output = RunLine(c.line);
    EXPECT_EQ(output.out, "") << c.line;
    EXPECT_EQ(output.err, geteuid() == 0 && !c.as_root.empty() ? c.as_root : c.report) << c.line;
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
  if (geteuid() == 0) {
    EXPECT_EQ(RunLine("copy new.ini links\\a.ini").err,
              "Cannot copy to links\\a.ini: Not following links\\a.ini" + kNoLinkAsRoot);
    GTEST_SKIP() << "a run that stays root follows no link";
  }
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

// Folders' handles are kept from one copy to the next: a folder put in another's place between
// copies is the one the next copy goes to, and a folder's checks are made again.
TEST_F(DurableCopy, TheNextCopyGoesToTheFolderThatIsThereNow) {
  fs::create_directories("System");
  WriteFile("new.ini", "new");
  ASSERT_EQ(RunLine("copy new.ini System\\a.ini").out, "1 file copied.\n");
  fs::rename("System", "Old");
  fs::create_directories("System");
  EXPECT_EQ(RunLine("copy new.ini System\\a.ini").out, "1 file copied.\n");
  EXPECT_EQ(ReadFile("System/a.ini"), "new");
  if (geteuid() == 0) {  // a run that stays root enters no folder that others may write
    fs::permissions("System", fs::perms::group_write, fs::perm_options::add);
    EXPECT_EQ(RunLine("copy new.ini System\\a.ini").out, "");
    fs::permissions("System", fs::perms::group_write, fs::perm_options::remove);
  }
  WriteFile("System/a.ini", "changed");
  fs::rename("System", "Other");
  fs::rename("Old", "System");
  EXPECT_EQ(RunLine("copy System\\a.ini b.ini").out, "1 file copied.\n");
  EXPECT_EQ(ReadFile("b.ini"), "new");
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
  WriteFile("backup.ini", "new");
  fs::create_directories("inherit");
  for (const char* name :
       {"live.ini", "acl.ini", "attributes.ini", "capable.ini", "inherit/plain.ini"}) {
    WriteFile(name, "old");
  }
  const std::string acl = DenyingAcl();
  const auto set = [](const char* path, const char* name, const std::string& value) {
    return setxattr(path, name, value.data(), value.size(), 0) == 0 ||
           NoteUnmade(std::string("could not set ") + name + " on " + path);
  };
  const char capability[20] = {0, 0, 0, 2, 0, 0x20};  // version 2, CAP_NET_BIND_SERVICE
  struct Case {
    const char* target;
    const char* attribute;
    std::string expected;
    bool made;  // its setup happened here
  };
  const Case cases[] = {
      {"acl.ini", "system.posix_acl_access", acl, set("acl.ini", "system.posix_acl_access", acl)},
      {"attributes.ini", "user.note", "kept", set("attributes.ini", "user.note", "kept")},
      {"capable.ini", "security.capability", "(none)",
       set("capable.ini", "security.capability", std::string(capability, sizeof capability))},
      // The folder's default ACL would give the new file entries that the old one did not have.
      {"inherit/plain.ini", "system.posix_acl_access", "(none)",
       set("inherit", "system.posix_acl_default", acl)},
      {"live.ini", "user.note", "(none)", HandTo("live.ini", 777, 888)},
  };
  const std::string unmade = TakeUnmadeSetup();
  Rows rows;
  for (const Case& c : cases) {
    if (!c.made) {
      rows.Skipped(c.target, "its setup cannot be made here");
      continue;
    }
    rows.Ran(c.target);
    EXPECT_EQ(RunLine((std::string("copy backup.ini ") + c.target).c_str()).out,
              "1 file copied.\n");
    EXPECT_EQ(ReadFile(c.target), "new") << c.target;
    EXPECT_EQ(Attribute(c.target, c.attribute), c.expected) << c.target;
  }
  struct stat st;
  if (cases[4].made) {
    ASSERT_EQ(stat("live.ini", &st), 0);
    EXPECT_EQ(st.st_uid, 777u);
    EXPECT_EQ(st.st_gid, 888u);
  }

  // A file that is nearly all hole takes no more room as a copy.
  {
    const Fd sparse(open("sparse.ini", O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(pwrite(sparse.get(), "end", 3, off_t{256} << 20), 3);
  }
  EXPECT_EQ(RunLine("copy sparse.ini copy.ini").out, "1 file copied.\n");
  ASSERT_EQ(stat("copy.ini", &st), 0);
  EXPECT_EQ(st.st_size, (off_t{256} << 20) + 3);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);
  if (rows.AnySkipped()) {
    GTEST_SKIP() << rows.Report() << "; not made: " << unmade;
  }
}

// What a child does before its copy: it starts as a player (with a state folder the test makes).
bool BecomePlayer() {
  const bool became = setgroups(0, nullptr) == 0 && setgid(12345) == 0 && setuid(12345) == 0;
  linux_shell::remember_starting_user();
  return became;
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
  const bool root = MayRunAsAnotherUser();
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
  fs::create_directories("state");
  setenv("XDG_STATE_HOME", fs::absolute("state").c_str(), 1);
  bool handed = root && HandTo("state", 12345, 12345) && HandTo("sticky/other.ini", 777, 777);
  for (const char* path : {"write-only", "write-only/a.ini", "write-only/b.ini"}) {
    handed = handed && HandTo(path, 12345, 12345);
  }
  chmod("write-only", 0333);
  // Temporary files that killed copies left, and the player's look-alike beside them.
  const std::string leftover = linux_shell::temporary_name_for("left.ini");
  WriteFile(leftover, "half");
  WriteFile(linux_shell::temporary_name_for("unlockable.ini"), "half");
  WriteFile(".sk-backup-abcdef", "mine");
  WriteFile(".sk-backup-0123456789abcdef", "half");  // a killed copy's, under a fresh name
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
  const bool another_users = HandTo(held[3], 777, 777);
  WriteFile(held[4], "a running copy's");
  const int lock = open(held[4].c_str(), O_RDONLY);
  ASSERT_EQ(flock(lock, LOCK_SH), 0);
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
  enum Needs {
    anyone,
    root_for_a_player,
    an_append_only_folder,
    another_users_file,
    a_default_acl
  };
  const std::string unmet[] = {
      "", "needs root, to run as a player and to hand the player's files to the player",
      "cannot make a folder append-only and a file immutable here: " + append_error,
      "cannot hand a file to another user here", "cannot give a folder a default ACL here"};
  const bool met[] = {true, root && handed, append_only, another_users, inherits};
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
      // Another user's file is not written in place: its owner would read the bytes.
      {"sticky/other.ini", BecomePlayer, as_player,
       "Cannot copy to sticky/other.ini: it belongs to user 777, and the folder takes no new "
       "file: written in place, it would give that user the bytes; it is left as it was\n",
       "old"},
      {"shared/locked.ini", BecomePlayer, as_player,
       "Cannot copy to shared/locked.ini: Permission denied; shared belongs to root: start "
       "sk-backup with sudo (it then acts as root, who owns this folder), or ask root to let you "
       "write it\n",
       "old"},
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
      // A read-only drive, and a full one: what to do, and what was kept.
      {"fat.ini", [] { return Refuse({__NR_openat}, EROFS, O_CREAT | 020000000); }, anyone,
       "Cannot copy to fat.ini: no new file could be made in this folder: Read-only file system; "
       "the drive is mounted read-only (a dual-boot NTFS drive is while Windows hibernates or "
       "keeps Fast Startup: shut Windows down fully, then mount it again)\n",
       "old"},
      {"fat.ini",
       [] {
         return Refuse({__NR_copy_file_range, __NR_pwrite64}, ENOSPC);
       },
       anyone,
       "Cannot copy to fat.ini: No space left on device; fat.ini is unchanged: free some space "
       "and copy it again\n",
       "old"},
      {"append/immutable.ini", nullptr, an_append_only_folder,
       "Cannot copy to append/immutable.ini: Operation not permitted; append/immutable.ini is "
       "marked immutable: lift that with sudo chattr -i append/immutable.ini, then copy again\n",
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
      {"held-by-another-user.ini", nullptr, another_users_file, "", kNew},
      {"held-by-a-lock.ini", nullptr, anyone, "", kNew},
      {"ntfs.ini", [] { return Refuse({__NR_fremovexattr}, EPERM); }, anyone, "", kNew},
      {"fusefat.ini", [] { return Refuse({__NR_ftruncate}, EPERM); }, anyone, "", kNew},
      {"inherit/a.ini", [] { return Refuse({__NR_fremovexattr}, EPERM); }, a_default_acl,
       "Cannot copy to inherit/a.ini: the folder's default ACL could not be taken off the copy: "
       "Operation not permitted\n",
       "old"},
  };
  TakeUnmadeSetup();  // each row's needs say what was not made
  Rows rows;
  for (const Case& c : cases) {
    if (!met[c.needs]) {
      rows.Skipped(c.target, unmet[c.needs]);
      continue;
    }
    rows.Ran(c.target);
    const Output output = RunLine((std::string("copy new.ini ") + c.target).c_str(), c.prepare);
    EXPECT_EQ(output.err, c.report) << c.target;
    EXPECT_EQ(ReadFile(c.target), c.content) << c.target;
    EXPECT_FALSE(fs::exists(leftover)) << c.target;
  }
  close(lock);
  flags &= ~FS_APPEND_FL;
  ioctl(append.get(), FS_IOC_SETFLAGS, &flags);
  file_flags &= ~FS_IMMUTABLE_FL;
  ioctl(immutable.get(), FS_IOC_SETFLAGS, &file_flags);
  EXPECT_EQ(ReadFile("shared/linked-too.ini"), "old");
  chmod("write-only", 0755);  // for the listing below, where the tests' user cannot read it
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
                                 "append/immutable.ini",
                                 ".sk-backup-abcdef",
                                 "chmod.ini",
                                 "left.ini",
                                 "fat.ini",
                                 "unlockable.ini",
                                 "state/",
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
    if (another_users || std::string(target) != "held-by-another-user.ini") {
      names.insert(target);  // each the copy made
    }
  }
  if (!another_users) {
    names.erase(held[3]);  // the tester's own leftover then, which the sweep of leftovers removes
  }
  if (root && handed) {
    names.insert("state/sk-backup/");  // where the player's copies in place kept the old bytes
  }
  // Leftovers busy for one copy, or under fresh names, go with a copy whose first name is taken.
  EXPECT_EQ(Names(), names);
  unsetenv("XDG_STATE_HOME");
  if (rows.AnySkipped()) {
    GTEST_SKIP() << rows.Report();
  }
}

}  // namespace
