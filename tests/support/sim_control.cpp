#include "sim_control.h"

#include <dlfcn.h>

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "dapsim/control.h"

namespace simctl {
namespace {

using CommandFn = int (*)(const char *, char **);
using FreeFn = void (*)(char *);

bool call(const std::string &line, std::string *reply) {
  static auto command_fn = reinterpret_cast<CommandFn>(dlsym(RTLD_DEFAULT, "dapsim_command"));
  static auto free_fn = reinterpret_cast<FreeFn>(dlsym(RTLD_DEFAULT, "dapsim_free"));
  if (command_fn == nullptr || free_fn == nullptr) {
    ADD_FAILURE() << "the simulated board is not loaded (LD_PRELOAD)";
    std::abort();
  }
  char *text = nullptr;
  const int rc = command_fn(line.c_str(), &text);
  *reply = text != nullptr ? text : "";
  free_fn(text);
  return rc == 0;
}

} // namespace

std::string command(const std::string &line) {
  std::string reply;
  EXPECT_TRUE(call(line, &reply)) << line << ": " << reply;
  return reply;
}

bool try_command(const std::string &line, std::string *reply) { return call(line, reply); }

std::vector<std::string> trace() {
  std::vector<std::string> lines;
  std::istringstream in(command("trace"));
  for (std::string l; std::getline(in, l);)
    if (!l.empty())
      lines.push_back(l);
  return lines;
}

std::vector<std::string> trace_matching(const std::string &needle) {
  std::vector<std::string> out;
  for (auto &l : trace())
    if (l.find(needle) != std::string::npos)
      out.push_back(l);
  return out;
}

std::vector<unsigned char> written(const std::string &channel) {
  std::vector<unsigned char> bytes;
  std::istringstream in(command("written " + channel));
  for (std::string hex; in >> hex;)
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

} // namespace simctl
