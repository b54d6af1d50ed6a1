// What the program undoes before a signal ends it or stops it: a registry, as git's sigchain.
// Each part of the layer that holds something a signal must undo (a terminal in raw mode, a named
// temporary file) keeps that state itself and registers its own cleanup here; the handlers,
// installed with the first cleanup, run every cleanup registered, in the order registered, then
// end or stop the program as the signal's default action would.
//
// Nothing can undo a SIGKILL or a power cut: what they may leave of a temporary file, and who
// removes it, is in temporary_file.hpp.
#pragma once

#include <signal.h>

namespace linux_shell {

/// Call once, first thing at start. From the first on_fatal_signal() on (before there is
/// anything to undo, each signal's default action does what a handler would), every signal whose
/// default action ends the program (all but SIGKILL and SIGSTOP) runs the cleanups, then ends
/// the program by the same signal, as its default action would (with a core dump where that
/// dumps one). SIGTSTP runs them as a stop, then stops the program; when it is continued the
/// handler returns, so that a call waiting for input fails with EINTR. SIGXFSZ is ignored from
/// the start, so that a file-size limit makes a write fail instead of ending the program
/// half-way through a copy. A signal that was ignored when the program started stays ignored.
void catch_fatal_signals();

/// Blocks every signal that can be blocked; returns the mask to give to unblock_signals().
/// Around a change that a handler must see whole: a temporary file created and recorded, or
/// removed and forgotten; a write in place, until the file is whole again. A signal that comes
/// meanwhile acts when they are unblocked.
sigset_t block_signals();
void unblock_signals(const sigset_t& previous);

/// What a part of the layer undoes in a signal handler: `stopping` is true before the program
/// stops (Ctrl-Z, SIGTSTP; it may be continued), false before it ends. Only async-signal-safe
/// calls.
using SignalCleanup = void (*)(bool stopping);

/// Adds `cleanup` to those the handlers run. Each part adds its own once, before it first
/// holds anything; at most four in all (a fifth is not added, and the call returns false).
bool on_fatal_signal(SignalCleanup cleanup);

}  // namespace linux_shell
