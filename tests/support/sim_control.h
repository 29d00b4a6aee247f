// Driving the simulated board from C++ tests (the library is in LD_PRELOAD).
#pragma once

#include <string>
#include <vector>

namespace simctl {

// Runs one control command; a command the simulator refuses fails the test.
std::string command(const std::string &line);
// Same, but returns false instead of failing (for tests of refusals).
bool try_command(const std::string &line, std::string *reply);
// The trace as lines.
std::vector<std::string> trace();
// Trace lines that contain `needle`.
std::vector<std::string> trace_matching(const std::string &needle);
// Every byte the host wrote to a channel ("accel0" or "accel1") since reset.
std::vector<unsigned char> written(const std::string &channel);

} // namespace simctl
