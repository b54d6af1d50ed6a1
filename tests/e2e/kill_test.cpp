// Kills of the built program at any moment of a restore leave each live file whole, the old
// or the new, and a later run removes what they left; two runs at once never take each other's
// temporary file for a leftover.

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/faults.hpp"
#include "support/refuse.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace support;

/// How the copies of a kill trial make their temporary files.
struct KillTrial {
  const char* name;
  bool (*prepare)();  // in the program's process, before it starts
};

const KillTrial kKillTrials[] = {
    {"AnonymousTemporaryFilesWhereTheFileSystemHasThem", nullptr},
    // As on FAT through FUSE: no O_TMPFILE, so each copy writes a named file from its start.
    {"NamedTemporaryFiles",
     [] { return Refuse({__NR_openat}, EOPNOTSUPP, O_TMPFILE & ~O_DIRECTORY); }},
};

void PrintTo(const KillTrial& trial, std::ostream* os) {
  *os << trial.name;
}

class Kills : public Faults, public ::testing::WithParamInterface<KillTrial> {};

TEST_P(Kills, AKilledRestoreLeavesTheWholeOldOrTheWholeNewFile) {
  const bool named = GetParam().prepare != nullptr;
  constexpr std::size_t kSize = 32 * 1024 * 1024;
  constexpr int kTrials = 24;
  unsigned seed = 20261207;
  if (const char* text = std::getenv("SK_BACKUP_KILL_SEED")) {
    seed = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
  }
  std::cout << "kill trials: seed " << seed << " (set SK_BACKUP_KILL_SEED to change it)\n";
  RecordProperty("seed", std::to_string(seed));

  // The live files hold the old settings, the backup the new; the first file is the big one.
  std::string old_content[3];
  std::string new_content[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t size = i == 0 ? kSize : 4096;
    old_content[i] = Pattern(static_cast<char>('o' + i), size);
    new_content[i] = Pattern(static_cast<char>('N' + i), size);
    WriteFile(game_ / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[i]), new_content[i]);
  }
  bool replaced[3] = {true, true, true};
  const auto reset = [&] {
    for (int i = 0; i < 3; ++i) {
      if (replaced[i]) {
        WriteFile(game_ / "System" / kNames[i], old_content[i]);
      }
    }
  };
  const auto backups = FolderTree(game_ / "Skulvane_Backups", Detail::kStatus);
  const auto names_of_backups = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(game_ / "Skulvane_Backups")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  };
  const std::set<std::string> backup_names = names_of_backups();

  Launch launch;
  launch.folder = game_;
  launch.input = "3\ny\nx\n";
  launch.prepare = GetParam().prepare;

  // Whole runs, to learn how long the restore takes here (the longer of two).
  Clock::duration whole_run{};
  for (int run = 0; run < 2; ++run) {
    reset();
    const auto started = Clock::now();
    const int status = Finish(Start(launch));
    whole_run = std::max(whole_run, Clock::now() - started);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    ASSERT_TRUE(ReadFile(game_ / "System" / kNames[0]) == new_content[0]);
  }

  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole_run).count());
  // Every other trial ends the run with a signal that the program can catch: it must remove its
  // temporary file itself. A SIGKILL's leftover is removed by a later run's copy into System.
  constexpr int kCatchable[] = {SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGPIPE, SIGHUP};
  int old_count = 0;
  int new_count = 0;
  int finished = 0;
  int temporaries = 0;
  const auto temporaries_in_system = [&] {
    const std::regex temporary_name(R"(\.sk-backup-[0-9a-f]{16})");
    int count = 0;
    for (const auto& entry : fs::directory_iterator(game_ / "System")) {
      const std::string name = entry.path().filename().string();
      if (std::regex_match(name, temporary_name)) {
        ++count;
      } else {
        EXPECT_TRUE(name == kNames[0] || name == kNames[1] || name == kNames[2])
            << "unexpected entry " << name;
      }
    }
    return count;
  };
  for (int trial = 0; trial < kTrials; ++trial) {
    reset();
    const int signal_number = trial % 2 == 0 ? SIGKILL : kCatchable[trial / 2 % 7];
    const int left_before = temporaries_in_system();
    const pid_t pid = Start(launch);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, signal_number);
    const int trial_status = Finish(pid);
    ASSERT_NE(trial_status, -1);
    finished += WIFEXITED(trial_status) ? 1 : 0;

    const int left = temporaries_in_system();
    EXPECT_LE(left, left_before + (signal_number == SIGKILL ? 1 : 0))
        << "trial " << trial << ": signal " << signal_number << " left a temporary file";
    temporaries += std::max(0, left - left_before);
    for (int i = 0; i < 3; ++i) {
      const std::string live = ReadFile(game_ / "System" / kNames[i]);
      const bool is_old = live == old_content[i];
      const bool is_new = live == new_content[i];
      ASSERT_TRUE(is_old || is_new) << "trial " << trial << ": " << kNames[i] << " holds "
                                    << live.size() << " bytes of neither the old nor the new";
      replaced[i] = !is_old;
      if (i == 0) {
        (is_old ? old_count : new_count) += 1;
      }
    }
    // A restore never writes beside the backup copies.
    ASSERT_EQ(names_of_backups(), backup_names) << "trial " << trial;
  }
  EXPECT_EQ(FolderTree(game_ / "Skulvane_Backups", Detail::kStatus), backups);
  // A kill while the data is written leaves nothing where the file system has anonymous files:
  // only one in the short time between link and rename leaves a named file.
  const int anonymous = open((game_ / "System").c_str(), O_TMPFILE | O_RDWR, 0600);
  if (anonymous >= 0 && !named) {
    EXPECT_LE(temporaries, 1);
  }
  if (anonymous >= 0) {
    close(anonymous);
  }
  // A whole run's copies into System remove every temporary file that the kills left there.
  reset();
  ASSERT_EQ(Finish(Start(launch)), 0);
  EXPECT_EQ(temporaries_in_system(), 0);
  if (named) {  // a kill the moment the first copy's named file shows: it stays, the file whole
    std::fill(std::begin(replaced), std::end(replaced), true);
    reset();
    const pid_t pid = Start(launch);
    ASSERT_GT(pid, 0);
    const auto deadline = Clock::now() + kDeadline;
    while (temporaries_in_system() == 0 && Clock::now() < deadline) {
    }
    kill(pid, SIGKILL);
    ASSERT_NE(Finish(pid), -1);
    ASSERT_EQ(temporaries_in_system(), 1) << "no named temporary file showed";
    EXPECT_TRUE(ReadFile(game_ / "System" / kNames[0]) == old_content[0]);
    temporaries += 1;
    // The next run's copy of that file removes it.
    ASSERT_EQ(Finish(Start(launch)), 0);
    EXPECT_EQ(temporaries_in_system(), 0);
  }
  std::cout << "kill trials: " << kTrials << " within "
            << std::chrono::duration_cast<std::chrono::milliseconds>(whole_run).count()
            << " ms of a whole run: " << old_count << " old, " << new_count << " new (" << finished
            << " finished before the kill), " << temporaries
            << " temporary files left by SIGKILL, removed by later runs\n";
  RecordProperty("old", old_count);
  RecordProperty("new", new_count);
  RecordProperty("temporaries", temporaries);
}

INSTANTIATE_TEST_SUITE_P(Restores, Kills, ::testing::ValuesIn(kKillTrials),
                         support::CaseName<KillTrial>);

TEST_F(Faults, TwoRunsAtOnceNeverTakeTheOthersTemporaryFileForStale) {
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    WriteFile(game_ / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[i]),
              Pattern(static_cast<char>('N' + i), 256 * 1024));
  }
  std::string input;
  for (int i = 0; i < 30; ++i) {
    input += "3\ny\n";
  }
  Launch runs[2];
  pid_t pids[2];
  for (int i = 0; i < 2; ++i) {
    runs[i].folder = game_;
    runs[i].input = input + "x\n";
    runs[i].err = root_ / ("err" + std::to_string(i));
    pids[i] = Start(runs[i]);
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Finish(pids[i]), 0);
    EXPECT_EQ(ReadFile(runs[i].err), "") << "run " << i;
  }
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    EXPECT_TRUE(ReadFile(game_ / "System" / kNames[i]) ==
                Pattern(static_cast<char>('N' + i), 256 * 1024));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(game_ / "System"), fs::directory_iterator()), 3);
}

}  // namespace
