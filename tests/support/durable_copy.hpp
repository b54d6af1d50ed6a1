// The fixture of the tests of copy (tests/linux/*copy*_test.cpp): a scratch folder to run
// command lines in, and what those tests set up alike: an ACL that denies a group, and the
// refusal of a link by a run that stays root.
#pragma once

#include <cstdint>
#include <string>

#include "support/refusals.hpp"
#include "support/scratch_shell.hpp"

namespace support {

class DurableCopy : public ShellTest {};

/// An access ACL (user::rw-, user:1234:r--, group::---, mask::r--, other::---) as the kernel
/// keeps it: a file of mode 0640 whose group may read nothing.
inline std::string DenyingAcl() {
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

}  // namespace support
