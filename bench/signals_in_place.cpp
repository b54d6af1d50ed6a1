// Signals during a restore in place, and how long Ctrl-C waits for one.
//
//   sudo build/sk-bench-signals-in-place FOLDER [PROGRAM] [TRIALS] [UID]
//
// In FOLDER (on the file system to measure) a game folder is made whose System belongs to root
// while its SkAux.ini and the backup folder belong to UID (default 65534), so that a restore run
// as that user must write in place. Part 1: for SIGINT, SIGTERM and SIGHUP, TRIALS runs
// (default 200) each put back the old 1 MiB file, start PROGRAM (default build/sk-backup) with
// "4 y n n x" to restore a 512 KiB backup, and send the signal after a random share of the time
// a whole run takes; printed: how many runs left the old file, the new one, or a damaged one.
// Part 2: with a 64 MiB file and backup, a tracer stops the program as its first write into
// SkAux.ini returns and sends SIGINT there; printed: how long the program took to end after it
// (median and longest of 9), which is how long a Ctrl-C waits for the file to be whole.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/tracer.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string g_program = "build/sk-backup";
uid_t g_uid = 65534;
fs::path g_game;

std::string Filled(char letter, std::size_t size) {
  std::string text(size, letter);
  for (std::size_t i = 4095; i < size; i += 4096) {
    text[i] = '\n';
  }
  return text;
}

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  chown(path.c_str(), g_uid, g_uid);
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

pid_t Start(bool traced) {
  int input[2];
  if (pipe(input) != 0 || write(input[1], "4 y n n x\n", 10) != 10) {
    return -1;
  }
  close(input[1]);
  const pid_t pid = fork();
  if (pid == 0) {
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      signal(signal_number, SIG_DFL);  // as a terminal would start it, whatever started this
    }
    const int null = open("/dev/null", O_WRONLY);
    dup2(input[0], 0);
    dup2(null, 1);
    dup2(null, 2);
    if (setgroups(0, nullptr) != 0 || setgid(g_uid) != 0 || setuid(g_uid) != 0 ||
        chdir(g_game.c_str()) != 0 || (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr))) {
      _exit(126);
    }
    execl(g_program.c_str(), g_program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(input[0]);
  return pid;
}

void Prepare(std::size_t old_size, std::size_t new_size) {
  fs::remove_all(g_game);
  fs::create_directories(g_game / "System");
  fs::create_directories(g_game / "Skulvane_Backups");
  chown((g_game / "Skulvane_Backups").c_str(), g_uid, g_uid);
  Write(g_game / "Skulvane_Backups/BACKUP_SkAux.ini", Filled('N', new_size));
  Write(g_game / "System/SkAux.ini", Filled('o', old_size));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [PROGRAM] [TRIALS] [UID]\n", argv[0]);
    return 2;
  }
  g_game = fs::path(argv[1]) / "sk-signals-in-place";
  g_program = fs::absolute(argc > 2 ? argv[2] : g_program).string();
  const int trials = argc > 3 ? std::atoi(argv[3]) : 200;
  g_uid = argc > 4 ? static_cast<uid_t>(std::atoi(argv[4])) : g_uid;
  const fs::path live = g_game / "System/SkAux.ini";

  const std::string old_bytes = Filled('o', 1 << 20);
  const std::string new_bytes = Filled('N', 512 << 10);
  Prepare(old_bytes.size(), new_bytes.size());
  Clock::duration whole{};
  for (int run = 0; run < 3; ++run) {
    Write(live, old_bytes);
    const auto started = Clock::now();
    const pid_t pid = Start(false);
    waitpid(pid, nullptr, 0);
    whole = std::max(whole, Clock::now() - started);
  }
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count());
  for (const auto& [signal_number, name] :
       {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
    int old_count = 0, new_count = 0, damaged = 0;
    for (int trial = 0; trial < trials; ++trial) {
      Write(live, old_bytes);
      const pid_t pid = Start(false);
      std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
      kill(pid, signal_number);
      waitpid(pid, nullptr, 0);
      const std::string held = Read(live);
      (held == old_bytes ? old_count : held == new_bytes ? new_count : damaged) += 1;
    }
    std::printf(
        "%s: a whole run %lld ms; %d %ss during a restore in place: %d old, %d new, "
        "%d damaged\n",
        argv[1],
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(whole).count()),
        trials, name, old_count, new_count, damaged);
  }

  std::vector<double> waits;
  for (int run = 0; run < 9; ++run) {
    Prepare(std::size_t{64} << 20, std::size_t{64} << 20);
    const pid_t pid = Start(true);
    if (!support::SignalAfterFirstWrite(pid, "/System/SkAux.ini", SIGINT)) {
      std::fprintf(stderr, "cannot trace the program here\n");
      return 1;
    }
    const auto sent = Clock::now();
    waitpid(pid, nullptr, 0);
    waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
  }
  std::sort(waits.begin(), waits.end());
  std::printf(
      "%s: Ctrl-C after the first write of a 64 MiB restore in place: ended %.1f ms "
      "later (median of %zu; longest %.1f ms)\n",
      argv[1], waits[waits.size() / 2], waits.size(), waits.back());
  fs::remove_all(g_game);
}
