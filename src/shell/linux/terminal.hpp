// The terminal's part of the command lines: "cls" clears it, "pause" waits for one key.
//
// A pause takes the terminal only while it waits: raw modes (no line editing, no echo, no flow
// control, signal keys left as they are), then the modes it found put back, also when a signal
// ends or stops the program (fatal_signals.hpp). It takes exactly one key, whatever its length,
// and drops what else was typed at the pause. Words that the program has already read from a
// line typed before the pause are not the terminal's any more and stay for the program's reads.
#pragma once

namespace linux_shell {

/// Clears a terminal and its scrollback and puts the cursor at the top left; where standard
/// output is not a terminal, writes a form feed, so that a transcript shows where it was done.
void clear_terminal();

/// Shows "Press any key to continue..." and waits for one key read straight from the terminal,
/// then ends the line. Where standard input is not a terminal there is no key to wait for: it
/// returns at once and leaves the input for the program's reads. A program in the background
/// is stopped (SIGTTOU) before it reads the terminal's modes, until it is brought to the
/// foreground. Ctrl-C and Ctrl-\ end the program and Ctrl-Z stops it, each with the terminal
/// put back; after a stop the pause shows its prompt again and waits for a key again.
void wait_for_key();

/// Makes standard input blocking where another program left it non-blocking, so that "no input
/// yet" is never taken for the end of the input. Call once at start.
void make_input_blocking();

}  // namespace linux_shell
