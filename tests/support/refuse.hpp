// Faults injected into a process before it runs (Linux): system calls refused with an error,
// as a file system or a filter would refuse them, by a seccomp filter that the process and
// every program it then starts keep.
#pragma once

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <cstddef>
#include <initializer_list>
#include <vector>

namespace support {

/// Makes the calls `calls` fail with `error`, as a file system or a filter would refuse them.
/// With `flags`, an openat only where its flags hold one of them.
inline bool Refuse(std::initializer_list<long> calls, int error, unsigned flags = 0) {
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

}  // namespace support
