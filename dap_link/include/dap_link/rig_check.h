// What a rig check asks the system, without changing anything: what is at a
// path, whether the driver behind a device node answers, how fast the tick
// clock runs, whether a plug-in file loads. Nothing here writes to or reads
// from a device: a node is opened, asked its driver requests and closed.
#pragma once

#include <cstddef>

namespace dap::rig {

// What stat() and access() say of a path.
struct PathReport {
  int error = 0; // errno of stat(), 0 when the path is there
  // "character device", "file", "folder", "FIFO", "socket", "block device",
  // "link" or "unknown".
  const char *kind = "unknown";
  unsigned mode = 0; // the permission bits
  unsigned uid = 0;
  unsigned gid = 0;
  char owner[64] = {0}; // names, or the numbers when the system has none
  char group[64] = {0};
  long long size = 0;
  // errno of access() for reading, writing, running (0: allowed).
  int read_error = 0;
  int write_error = 0;
  int run_error = 0;
};
PathReport examine_path(const char *path);

// One driver request's answer: the value, or the errno (-1 when the driver
// answered with a status other than 0 and set none).
struct RequestAnswer {
  bool answered = false;
  int value = 0;
  int error = 0;
};

// The node opened read-write (never blocking, never kept), its driver asked
// its version and the readable-bytes and free-space requests, then closed.
struct DriverReport {
  int open_error = 0;           // errno of open(), 0 when it opened
  bool descriptor_zero = false; // it opened on descriptor 0 (closed again)
  RequestAnswer version;
  RequestAnswer readable;
  RequestAnswer free_space;
  int close_error = 0;
};
DriverReport ask_driver(const char *path);

// The tick clock measured against the system's monotonic clock while it is
// polled as the commands' windows poll it: until `ticks` ticks have passed
// or `limit_seconds` of real time.
struct ClockReport {
  long ticks_per_second_declared = 0; // sysconf(_SC_CLK_TCK)
  long ticks = 0;                     // ticks seen
  double seconds = 0;                 // real time it took
};
ClockReport measure_clock(int ticks, double limit_seconds);

// A plug-in file loaded (and let go of again) as the host would load it, and
// the build stamp it carries (empty when none).
struct PluginReport {
  bool loads = false;
  bool has_entry = false; // mexFunction found
  char error[256] = {0};  // why it does not load
  char stamp[128] = {0};
};
PluginReport examine_plugin(const char *path);

// This plug-in's own stamp: "dap-build <release> <host>".
const char *build_stamp();

// Whether the process runs on the simulated board, or under the session
// recorder.
bool simulated_board();
bool recorder_loaded();

} // namespace dap::rig
