// sk-bench-nothing: the floor of the benchmarks. A statically linked program that does nothing,
// so that its run time is just the cost of starting and ending a process.

int main() {
  return 0;
}
