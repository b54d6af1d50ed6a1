// sk-bench-timer: times whole runs of several programs, interleaved, and prints each one's
// median wall-clock time.
//
//   sk-bench-timer [-n RUNS] [-w WARM-UPS] [-d FOLDER] [-i INPUT] [-p PREPARE]
//                  NAME PROGRAM [ARG...] [:: NAME PROGRAM [ARG...]]...
//
// Every run starts the program straight from this process (posix_spawn, no shell in between)
// in FOLDER, with INPUT (opened anew for each run) as standard input and the null device as
// standard output and standard error, and waits for it; the time is taken from just before the
// start to just after the wait. PREPARE, when given, is run through /bin/sh in FOLDER before
// every run, warm-ups included, and is not timed. Each round runs every contestant once, the
// first contestant of a round moving on by one each round, so that no contestant always follows
// the same one. Warm-up rounds (default 1) are not counted.
//
// Output, one line per contestant in the order given:  NAME MEDIAN MIN MAX CPU  (seconds): the
// median, least and greatest wall-clock time, and the median processor time (user and system)
// of the program itself, which waiting for a busy processor or for the disk does not count.
// Exits with 1 (after saying why) when a contestant fails or cannot be started.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

struct Contestant {
  std::string name;
  std::vector<char*> argv;  ///< NULL-terminated
  std::vector<double> seconds;
  std::vector<double> cpu_seconds;
};

double now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

[[noreturn]] void die(const char* what, const char* detail) {
  std::fprintf(stderr, "sk-bench-timer: %s%s\n", what, detail);
  std::exit(1);
}

double seconds_of(const struct timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

/// Runs `argv` with `input` (or the null device) as standard input; returns its wait status,
/// and where asked the time it took and the processor time it used.
int run(char* const* argv, const char* input, double* elapsed, double* cpu) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input != nullptr ? input : "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const double start = now();
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    die("cannot start ", argv[0]);
  }
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  if (elapsed != nullptr) {
    *elapsed = now() - start;
  }
  if (cpu != nullptr) {
    *cpu = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  }
  return status;
}

void prepare(const char* command) {
  if (command == nullptr) {
    return;
  }
  char sh[] = "/bin/sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
  if (run(argv, nullptr, nullptr, nullptr) != 0) {
    die("preparation failed: ", command);
  }
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 21;
  int warm_ups = 1;
  const char* input = nullptr;
  const char* preparation = nullptr;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    const std::string_view option = argv[i];
    if (option == "-n") {
      runs = std::atoi(argv[i + 1]);
    } else if (option == "-w") {
      warm_ups = std::atoi(argv[i + 1]);
    } else if (option == "-d") {
      if (chdir(argv[i + 1]) != 0) {
        die("cannot enter ", argv[i + 1]);
      }
    } else if (option == "-i") {
      input = argv[i + 1];
    } else if (option == "-p") {
      preparation = argv[i + 1];
    } else {
      die("unknown option ", argv[i]);
    }
  }
  std::vector<Contestant> contestants;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "::") == 0 || contestants.empty()) {
      if (std::strcmp(argv[i], "::") == 0) {
        ++i;
      }
      if (i + 1 >= argc) {
        die("a contestant needs a name and a program", "");
      }
      contestants.push_back({argv[i], {}, {}, {}});
      continue;
    }
    contestants.back().argv.push_back(argv[i]);
  }
  if (contestants.empty() || runs < 1) {
    die("usage: sk-bench-timer [-n RUNS] [-w WARM-UPS] [-d FOLDER] [-i INPUT] [-p PREPARE] ",
        "NAME PROGRAM [ARG...] [:: NAME PROGRAM [ARG...]]...");
  }
  for (Contestant& contestant : contestants) {
    contestant.argv.push_back(nullptr);
  }

  const std::size_t count = contestants.size();
  for (int round = 0; round < warm_ups + runs; ++round) {
    for (std::size_t k = 0; k < count; ++k) {
      Contestant& contestant = contestants[(static_cast<std::size_t>(round) + k) % count];
      prepare(preparation);
      double elapsed = 0;
      double cpu = 0;
      const int status = run(contestant.argv.data(), input, &elapsed, &cpu);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        die("failed: ", contestant.name.c_str());
      }
      if (round >= warm_ups) {
        contestant.seconds.push_back(elapsed);
        contestant.cpu_seconds.push_back(cpu);
      }
    }
  }
  for (const Contestant& contestant : contestants) {
    const auto [low, high] =
        std::minmax_element(contestant.seconds.begin(), contestant.seconds.end());
    std::printf("%s %.9f %.9f %.9f %.9f\n", contestant.name.c_str(), median(contestant.seconds),
                *low, *high, median(contestant.cpu_seconds));
  }
  return 0;
}
