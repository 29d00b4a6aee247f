// The program "test": shows that the tool chain produces a working program.
#include <cstdio>

int main() {
  std::printf("Hello, world\n");
  return 0;
}
