// md: a folder made, or what is in its way told, in a scratch folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>
#include <set>
#include <string>

#include "support/durable_copy.hpp"
#include "support/refuse.hpp"
#include "support/scratch_shell.hpp"

namespace {

using namespace support;

class MakeFolder : public ShellTest {};

TEST_F(MakeFolder, CreatesOrReportsWhatIsInTheWay) {
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "");
  EXPECT_TRUE(fs::is_directory("Skulvane_Backups"));
  WriteFile("Skulvane_Backups/keep", "x");
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "Folder Skulvane_Backups already exists.\n");
  EXPECT_EQ(RunLine("md SKULVANE_backups").err, "Folder SKULVANE_backups already exists.\n");
  EXPECT_EQ(Names(), (std::set<std::string>{"Skulvane_Backups/", "Skulvane_Backups/keep"}));
}

// A folder the player may write but not read: the new folder is flushed with its file system,
// as a copy's target is, and a failure is told.
TEST_F(DurableCopy, MakeFolderFlushesAFolderItMayNotReadWithItsFileSystem) {
  fs::create_directories("write-only");
  if (!PlayersStateFolder() || !HandTo("write-only", 12345, 12345)) {
    GTEST_SKIP() << "needs root, to run as a player and to hand the folder to the player";
  }
  chmod("write-only", 0333);
  EXPECT_EQ(RunLine("md write-only\\a", BecomePlayer).err, "");
  EXPECT_EQ(
      RunLine("md write-only\\b", [] { return BecomePlayer() && Refuse({__NR_syncfs}, EIO); }).err,
      "Cannot create folder write-only\\b: Input/output error (flushing the folder "
      "write-only; the folder is made but may not survive a power cut)\n");
  chmod("write-only", 0755);
  EXPECT_TRUE(fs::is_directory("write-only/a"));
  EXPECT_TRUE(fs::is_directory("write-only/b"));
}

}  // namespace
