// Linked into sk-bench-no-fsync with -Wl,--wrap=fsync: every fsync of the program does nothing.
// Only to measure what syncing costs; such a program keeps none of the copy's promises.

extern "C" int __wrap_fsync(int) {
  return 0;
}
