// The built program on the drives players keep games on, each mounted as root can mount it: a
// player's sessions and root's (which become the player's) back up, back up over the backups,
// restore all and restore one; every byte and every failure line is checked. A row that cannot
// mount its drive here (not root, a tool or a kernel file system missing) skips with the reason.
// Each row ends its own FUSE server, by force after a deadline: a FAT server can spin for ever.

#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/files.hpp"
#include "support/launch.hpp"
#include "support/refusals.hpp"
#include "support/scratch.hpp"
#include "support/transcripts.hpp"

namespace {

using namespace support;

struct Drive {
  const char* name;
  const char* tool;   // the program that makes or serves it
  const char* make;   // makes the image {i}
  const char* mount;  // mounts {i} (a loop device {d} for a FUSE server) on {m}; {u}: a uid
  bool fuse;          // `mount` is a FUSE server kept in the foreground
  bool owned;         // its files are whoever the test makes them (chown works)
  bool everyones;     // every file is root's and anyone may write it (no ownership kept)
};

const Drive kDrives[] = {
    {"ext4", "mkfs.ext4", "mkfs.ext4 -q {i} 16M", "mount -o loop {i} {m}", false, true, false},
    {"xfs", "mkfs.xfs", "truncate -s 300M {i} && mkfs.xfs -q {i}", "mount -o loop {i} {m}", false,
     true, false},
    {"btrfs", "mkfs.btrfs", "truncate -s 120M {i} && mkfs.btrfs -q {i}", "mount -o loop {i} {m}",
     false, true, false},
    {"tmpfs", "mount", "true", "mount -t tmpfs -o size=8M tmpfs {m}", false, true, false},
    {"FatThroughFuse", "fusefat", "mkfs.vfat -C {i} 32768",
     "fusefat -f -o rw+,allow_other,uid={u},gid={u},umask=022 {i} {m}", true, false, false},
    {"NtfsNoOptions", "ntfs-3g", "truncate -s 8M {i} && mkntfs -q -F {i}",
     "ntfs-3g -o no_detach {i} {m}", true, false, true},
    {"NtfsForAUser", "ntfs-3g", "truncate -s 8M {i} && mkntfs -q -F {i}",
     "ntfs-3g -o no_detach,uid={u},gid={u} {i} {m}", true, false, false},
    {"ExfatThroughFuse", "mount.exfat-fuse", "truncate -s 8M {i} && mkfs.exfat {i}",
     "mount.exfat-fuse -d -o allow_other,uid={u},gid={u},umask=022 {d} {m}", true, false, false},
    {"KernelVfat", "mkfs.vfat", "mkfs.vfat -C {i} 32768",
     "mount -t vfat -o loop,uid={u},gid={u},umask=022 {i} {m}", false, false, false},
    {"KernelExfat", "mkfs.exfat", "truncate -s 8M {i} && mkfs.exfat {i}",
     "mount -t exfat -o loop,uid={u},gid={u},umask=022 {i} {m}", false, false, false},
};

void PrintTo(const Drive& drive, std::ostream* os) {
  *os << drive.name;
}

/// `text` with each {key} replaced.
std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& keys) {
  for (const auto& [key, value] : keys) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

bool Found(const char* tool) {
  return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

/// What a shell command printed, without its last line feed.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    for (int c; (c = fgetc(pipe)) != EOF;) {
      out += static_cast<char>(c);
    }
    pclose(pipe);
  }
  return out.empty() || out.back() != '\n' ? out : out.substr(0, out.size() - 1);
}

/// A file's bytes for the tag `tag`: several blocks, different for each file and tag.
std::string Content(char tag, const char* name) {
  std::string text;
  for (int line = 0; text.size() < 9000; ++line) {
    text += std::string(1, tag) + name + " Setting" + std::to_string(line) + "=" + tag + "\n";
  }
  return text;
}

class Drives : public ScratchTest, public ::testing::WithParamInterface<std::tuple<Drive, bool>> {
 protected:
  void TearDown() override {
    if (mounted_) {
      umount2(mount_.c_str(), MNT_DETACH);
    }
    for (const pid_t pid : {server_, watchdog_}) {
      if (pid > 0) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
          usleep(20000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    if (mounted_) {  // again: a server that hung may have kept the first from taking effect
      umount2(mount_.c_str(), MNT_DETACH);
    }
    if (!loop_.empty()) {
      std::system(("losetup -d " + loop_).c_str());
    }
    ScratchTest::TearDown();
  }

  fs::path mount_;
  bool mounted_ = false;
  pid_t server_ = -1;
  pid_t watchdog_ = -1;
  std::string loop_;
};

TEST_P(Drives, BackUpTwiceRestoreAllAndRestoreOne) {
  const auto& [drive, as_root] = GetParam();
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || nobody == nullptr) {
    GTEST_SKIP() << "mounting a drive needs root, and a player (nobody) to run as";
  }
  if (!Found(drive.tool)) {
    GTEST_SKIP() << drive.tool << " is not installed";
  }
  const User player{nobody->pw_uid, nobody->pw_gid};
  fs::permissions(root_, fs::perms(0755));
  mount_ = root_ / "mnt";
  fs::create_directory(mount_);
  const fs::path image = root_ / "image";
  const auto keys = [&](const std::string& device) {
    return std::vector<std::pair<std::string, std::string>>{{"{i}", image.string()},
                                                            {"{m}", mount_.string()},
                                                            {"{d}", device},
                                                            {"{u}", std::to_string(player.uid)}};
  };
  ASSERT_EQ(std::system((Fill(drive.make, keys("")) + " >/dev/null 2>&1").c_str()), 0);
  if (std::string(drive.mount).find("{d}") != std::string::npos) {
    loop_ = Output("losetup -f --show " + image.string());
  }
  const std::string mount = Fill(drive.mount, keys(loop_));
  if (drive.fuse) {
    server_ = fork();
    if (server_ == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execl("/bin/sh", "sh", "-c", ("exec " + mount).c_str(), nullptr);
      _exit(127);
    }
    watchdog_ = fork();  // the row's deadline: a server still running then is killed
    if (watchdog_ == 0) {
      sleep(60);
      kill(server_, SIGKILL);
      _exit(0);
    }
  } else if (std::system((mount + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount " << drive.name << " here (" << mount
                 << "): the kernel has no such file system";
  }
  struct stat above;
  struct stat at;
  stat(root_.c_str(), &above);
  for (int i = 0; i < 500 && !mounted_; ++i) {
    mounted_ = stat(mount_.c_str(), &at) == 0 && at.st_dev != above.st_dev;
    usleep(mounted_ ? 0 : 10000);
  }
  ASSERT_TRUE(mounted_) << mount << " did not mount";

  const fs::path game = mount_ / "game";
  const auto give = [&](char tag, bool all) {
    for (const char* name : kNames) {
      if (all || name == kNames[0]) {  // a new file: FAT through FUSE cannot rewrite one
        fs::remove(game / "System" / name);
        WriteFile(game / "System" / name, Content(tag, name));
      }
    }
    for (const auto& entry : fs::recursive_directory_iterator(mount_)) {
      if (drive.owned) {
        lchown(entry.path().c_str(), player.uid, player.gid);
      }
    }
    if (drive.owned) {
      lchown(game.c_str(), player.uid, player.gid);
    }
  };
  const auto holds = [&](const char* folder, const char* prefix, const char* tags) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const fs::path path = game / folder / (std::string(prefix) + kNames[i]);
      EXPECT_TRUE(ReadFile(path) == Content(tags[i], kNames[i])) << path << " is not " << tags[i];
    }
  };
  Launch launch;
  if (!as_root) {
    launch.program = (root_ / "sk-backup").string();
    fs::copy_file(SK_BACKUP_EXE, launch.program);
    launch.user = &player;
  }
  launch.folder = game;
  launch.err = root_ / "err";
  const auto run = [&](const char* input) {
    launch.input = input;
    const int status = Finish(Start(launch));
    EXPECT_EQ(status, 0) << input;
    return ReadFile(launch.err);
  };
  give('a', true);
  if (as_root && drive.everyones) {  // root stays root there, and does nothing
    const Tree before = FolderTree(game);
    for (const char* input : {"1 x\n", "3 y x\n"}) {
      const std::string err = run(input);
      std::size_t lines = 0;
      for (std::size_t at = 0, end; (end = err.find('\n', at)) != std::string::npos; at = end + 1) {
        ++lines;
        EXPECT_TRUE(err.substr(at, end + 1 - at).ends_with(kNotAsRoot + "\n")) << err;
      }
      EXPECT_GT(lines, 0u) << input;
    }
    EXPECT_EQ(FolderTree(game), before);
    return;
  }
  EXPECT_EQ(run("1 x\n"), "");
  holds("Skulvane_Backups", "BACKUP_", "aaa");
  give('b', true);
  EXPECT_EQ(run("1 x\n"), "Folder Skulvane_Backups already exists.\n");
  holds("Skulvane_Backups", "BACKUP_", "bbb");
  give('c', true);
  EXPECT_EQ(run("3 y x\n"), "");
  holds("System", "", "bbb");
  give('c', true);
  EXPECT_EQ(run("4 y n n x\n"), "");
  holds("System", "", "bcc");
  holds("Skulvane_Backups", "BACKUP_", "bbb");
  std::size_t entries = 0;
  for (const auto& entry : fs::recursive_directory_iterator(game)) {
    entries += entry.path().filename().string().starts_with(".sk-backup-") ? 100 : 1;
  }
  EXPECT_EQ(entries, 8u) << "a temporary file was left";
}

INSTANTIATE_TEST_SUITE_P(Players, Drives,
                         ::testing::Combine(::testing::ValuesIn(kDrives), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "AsRoot" : "AsAPlayer");
                         });

}  // namespace
