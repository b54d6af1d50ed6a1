// A game that saves while backups run: a backup reported copied holds bytes the file really
// held, whether the game truncates its file first or writes it in place.

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <gtest/gtest.h>

#include "support/faults.hpp"

namespace {

using namespace support;

/// Save `save` of a settings file: 16-byte lines that each carry the save's number.
std::string Save(unsigned save) {
  std::string text;
  char line[17];
  for (unsigned block = 0; block < 4096; ++block) {
    std::snprintf(line, sizeof line, "%08x %06x\n", save, block);
    text += line;
  }
  return text;
}

// The game saves in a loop, each save in 128 writes, without a pause of its own; backups run
// meanwhile. A backup reported copied holds one whole save, or a state that a save left while
// the scheduler held its writer between two writes (the only changes no program can see): its
// beginning, then, in place, the rest of the save before. Never zeros, nor a mix of two saves
// that the file held only for the time of a write.
TEST_F(Faults, AGameSavingDuringBackupsNeverGetsABackupOfBytesItNeverHeld) {
  constexpr int kRuns = 100;
  constexpr int kAtOnce = 10;
  constexpr std::size_t kSaves = 1 << 15;  // the saves noted, by number modulo this
  constexpr std::size_t kWrites = 128;
  constexpr long kPause = 10000;  // ns: five times a write's time here, a fraction of a copy's
  const fs::path live = root_ / "live.ini";
  // For each save and each write, whether it ended long after the write before (or the open):
  // the writer was held, and the file held the state that this write or the one before left (a
  // write may sleep once its bytes are in, while the kernel writes back).
  auto* paused = static_cast<volatile char*>(mmap(
      nullptr, kSaves * (kWrites + 1), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(paused, MAP_FAILED);
  for (const bool in_place : {false, true}) {
    WriteFile(live, Save(0));
    const pid_t writer = fork();
    if (writer == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // the test may end before it
      const auto now = [] {
        struct timespec at;
        clock_gettime(CLOCK_MONOTONIC, &at);
        return at.tv_sec * 1000000000L + at.tv_nsec;
      };
      for (unsigned save = 1;; ++save) {
        const std::string text = Save(save);
        volatile char* noted = paused + save % kSaves * (kWrites + 1);
        const int fd = open(live.c_str(), O_WRONLY | (in_place ? 0 : O_TRUNC));
        long last = now();
        for (std::size_t write = 0; fd >= 0 && write < kWrites; ++write) {
          if (pwrite(fd, text.data() + write * 512, 512, static_cast<off_t>(write * 512)) != 512) {
            _exit(1);
          }
          const long done = now();
          noted[write] = done - last > kPause;
          last = done;
        }
        close(fd);
      }
    }
    int whole = 0;
    int beginning = 0;
    int refused = 0;
    const auto judge = [&](const std::string& err, const std::string& backup) {
      const unsigned number = static_cast<unsigned>(std::strtoul(backup.c_str(), nullptr, 16));
      const std::string save = Save(number);
      volatile char* noted = paused + number % kSaves * (kWrites + 1);
      const std::size_t cut =
          (std::mismatch(backup.begin(), backup.end(), save.begin(), save.end()).first -
           backup.begin()) /
          512;
      const std::string state =
          save.substr(0, cut * 512) + (in_place ? Save(number - 1).substr(cut * 512) : "");
      if (err.find(": it changed while it was copied") != std::string::npos) {
        ++refused;
        EXPECT_EQ(backup, "");
      } else if (backup == save) {
        ++whole;
      } else {
        ++beginning;
        // Empty: the file just after its truncation, of a save not known.
        EXPECT_TRUE(backup.empty() ||
                    (backup == state && cut > 0 && (noted[cut - 1] != 0 || noted[cut] != 0)))
            << "a backup reported copied holds " << backup.size()
            << " bytes that the file never held, or held only while save " << number
            << " was being written: " << err << backup.substr(0, 16) << "..."
            << backup.substr(std::min(cut * 512, backup.size()), 16);
      }
    };
    for (int batch = 0; batch < kRuns; batch += kAtOnce) {
      Launch runs[kAtOnce];
      pid_t pids[kAtOnce];
      for (int i = 0; i < kAtOnce; ++i) {
        runs[i].folder =
            root_ / ((in_place ? "in-place" : "truncated") + std::to_string(batch + i));
        fs::create_directories(runs[i].folder / "System");
        fs::create_hard_link(live, runs[i].folder / "System" / kNames[0]);
        runs[i].input = "2 y n n x\n";
        runs[i].err = runs[i].folder / "err";
        pids[i] = Start(runs[i]);
        setpriority(PRIO_PROCESS, static_cast<id_t>(pids[i]), 19);  // the writer first
      }
      for (int i = 0; i < kAtOnce; ++i) {
        EXPECT_EQ(Finish(pids[i]), 0);
        judge(ReadFile(runs[i].err),
              ReadFile(runs[i].folder / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[0])));
      }
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    std::cout << (in_place ? "in place" : "truncated, then written") << ": " << kRuns
              << " backups while the game saved: " << whole << " copied whole, " << beginning
              << " copied as a beginning, " << refused << " refused\n";
  }
  munmap(const_cast<char*>(paused), kSaves * (kWrites + 1));
}

}  // namespace
