// Shared pieces of the simulator's own tests.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_control.h"

namespace simtest {

// Every test starts from a power-on board.
class Board : public ::testing::Test {
protected:
  void SetUp() override { simctl::command("reset"); }
  void TearDown() override {
    for (int fd : opened_)
      ::close(fd);
  }
  int open_node(const char *path) {
    const int fd = ::open(path, O_RDWR);
    if (fd > 0)
      opened_.push_back(fd);
    return fd;
  }
  // Closing through the test keeps TearDown from closing a reused number.
  void close_node(int fd) {
    for (auto &o : opened_)
      if (o == fd)
        o = -1;
    ::close(fd);
  }

private:
  std::vector<int> opened_;
};

inline int query(int fd, unsigned long request, int *value) { return ::ioctl(fd, request, value); }

inline std::string text_of(int fd) {
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(n));
  return out;
}

inline void send(int fd, const std::string &text) {
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

} // namespace simtest
