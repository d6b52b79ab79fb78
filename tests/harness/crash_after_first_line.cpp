// A Windows program that starts, says so, and then crashes by an access
// violation: the harness must count that as a failure and never run it
// again (wine_run_test.sh).
#include <cstdio>
#include <cstdlib>

int main() {
  std::puts("crash_after_first_line: started");
  std::fflush(stdout);
  // An address the compiler cannot know is null.
  volatile int* nowhere = reinterpret_cast<int*>(static_cast<uintptr_t>(std::atoi("0")));
  *nowhere = 1;
  std::puts("crash_after_first_line: not reached");
  return 0;
}
