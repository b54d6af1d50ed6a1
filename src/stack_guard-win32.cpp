// The stack protector's guard value and its failure handlers, for the Windows program built with
// -fstack-protector-strong and _FORTIFY_SOURCE. GCC's libssp has them too, but takes its guard
// from the CryptoAPI and so would add ADVAPI32.dll to the program's imports; here the guard comes
// from the C runtime's rand_s (the same system random source) and the program keeps importing only
// KERNEL32.dll and msvcrt.dll. libssp still supplies the checked copies (__memcpy_chk and the
// like), which call __chk_fail below.

// Declares rand_s in stdlib.h.
#define _CRT_RAND_S

#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>

extern "C" {
// Read by every protected function on entry and on return.
std::uintptr_t __stack_chk_guard;
}

namespace {

/// Ends the process at once, as Windows ends a program whose stack cookie was overwritten: no
/// handler, destructor or buffered output of the damaged process runs.
[[noreturn]] void end_damaged_process(const char* message, unsigned length) {
  static_cast<void>(_write(2, message, length));
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_unreachable();
}

/// Draws the guard before main and before any other constructor of the program. Not protected
/// itself: it changes the value that its own check would compare against.
[[gnu::constructor(101), gnu::no_stack_protector]] void draw_guard() {
  std::uintptr_t guard = 0;
  for (unsigned part = 0; part < sizeof guard / sizeof(unsigned); ++part) {
    unsigned value = 0;
    static_cast<void>(rand_s(&value));
    guard = guard << (8 * sizeof value) | value;
  }
  // A zero byte first stops a runaway string copy at the guard. Should the random source fail,
  // the guard is still no zero but the fixed value of a terminator canary.
  guard &= ~static_cast<std::uintptr_t>(0xff);
  __stack_chk_guard = guard != 0 ? guard : 0xff0a0000;
}

}  // namespace

extern "C" {

[[noreturn]] void __stack_chk_fail() {
  constexpr char kMessage[] = "*** stack smashing detected ***: sk-backup ended\n";
  end_damaged_process(kMessage, sizeof kMessage - 1);
}

[[noreturn]] void __chk_fail() {
  constexpr char kMessage[] = "*** buffer overflow detected ***: sk-backup ended\n";
  end_damaged_process(kMessage, sizeof kMessage - 1);
}

}  // extern "C"
