// copy: a target replaced only by a complete copy, with what cp keeps, or left as it was.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "shell/linux/files.hpp"
#include "support/durable_copy.hpp"
#include "support/setup.hpp"

namespace {

using namespace support;
using linux_shell::Fd;

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
       "Cannot copy to D\\loop.ini: not following D\\loop.ini" + kNoLinkAsRoot},
      {"copy D\\a.ini D\\A.INI", "Cannot copy to D\\A.INI: it is the same file as the source\n"},
      {"copy D\\pagemap.ini D\\a.ini",
       "Cannot copy D\\pagemap.ini: D\\pagemap.ini -> /proc is one "
       "of the kernel's files, not a file on a disk\n",
       "Cannot copy D\\pagemap.ini: not following D\\pagemap.ini" + kNoLinkAsRoot},
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
              "Cannot copy to links\\a.ini: not following links\\a.ini" + kNoLinkAsRoot);
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

}  // namespace
