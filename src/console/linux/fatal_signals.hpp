// What the program undoes before a signal ends it or stops it. While a pause holds the terminal
// in raw mode, a signal that ends the program first puts the terminal back, and one that stops it
// (Ctrl-Z, SIGTSTP) puts it back before the program stops; while a copy has a temporary file, a
// signal that ends the program first removes that file. The handlers are installed once, at
// start; the rooms that take the terminal or create a temporary file record it here.
//
// Nothing can undo a SIGKILL or a power cut: what they may leave of a temporary file, and who
// removes it, is in temporary_file.hpp.
#pragma once

#include <signal.h>
#include <termios.h>

namespace linux_shell {

/// Installs the handlers, once, first thing at start. Every signal whose default action ends
/// the program (all but SIGKILL and SIGSTOP) gets the cleanup, then ends the program by the same
/// signal, as its default action would (with a core dump where that dumps one). SIGTSTP puts a
/// held terminal back, then stops the program; when it is continued the handler returns, so
/// that a call waiting for input fails with EINTR. SIGXFSZ is ignored, so that a file-size limit
/// makes a write fail instead of ending the program half-way through a copy. A signal that was
/// ignored when the program started stays ignored.
void catch_fatal_signals();

/// Blocks every signal that can be blocked; returns the mask to give to unblock_signals().
/// Around a change that a handler must see whole: a temporary file created and recorded, or
/// removed and forgotten.
sigset_t block_signals();
void unblock_signals(const sigset_t& previous);

/// Until terminal_given_back(): standard input is a terminal set to raw modes, and `saved` are
/// the modes to put back. A handler then writes `saved` back and ends the pause's line before
/// the program dies or stops; a stop also forgets the record, as the terminal is given back.
void terminal_taken(const termios& saved);
void terminal_given_back();

/// Until temporary_gone(): the entry `name` of the folder `folder` (a handle that stays open
/// meanwhile), a temporary file of this run, is removed by a signal that ends the program. Call
/// both with signals blocked. False, recording nothing, when `name` is longer than a name can be.
bool temporary_created(int folder, const char* name);
void temporary_gone();

}  // namespace linux_shell
