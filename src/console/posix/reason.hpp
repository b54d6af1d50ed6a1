// How the rooms of the POSIX command layer say whether a step worked.
#pragma once

namespace console {

/// nullptr when the step worked; else why it failed, as a text fit for a report (a fixed text,
/// or strerror's for an errno). A function that returns a Reason says so in its contract only
/// where it adds to this.
using Reason = const char*;

}  // namespace console
