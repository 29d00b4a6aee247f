// The rig check's probe on the host with MATLAB's rules, on the simulated
// board: it asks the driver without changing the board (the trace holds
// opens, requests and closes only), a refused question ends by the host's
// error with nothing left open, and a node the board has made wrong is
// described as a rig's stat and open would find it.
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host_checks.h"
#include "mex_host.h"
#include "sim_control.h"

namespace {

using mexhost::Array;
using mexhost::Outcome;
using mexhost::Plugin;

std::string probe_path() {
  const char *dir = std::getenv("DAP_HOST_PLUGIN_DIR");
  return std::string(dir != nullptr ? dir : DAP_HOST_PLUGIN_DIR) + "/dap_doctor_probe.mex";
}

// The answer's field as a number or as text; the test fails without it.
double number(const Outcome &o, const char *name) {
  const Array *f = o.results.at(0) ? o.results[0]->field(name) : nullptr;
  EXPECT_TRUE(f != nullptr && f->values.size() == 1) << name;
  return f != nullptr && f->values.size() == 1 ? f->values[0] : -12345;
}

std::string text(const Outcome &o, const char *name) {
  const Array *f = o.results.at(0) ? o.results[0]->field(name) : nullptr;
  EXPECT_TRUE(f != nullptr && f->kind == Array::Kind::text) << name;
  return f != nullptr ? f->text : "";
}

Outcome ask(Plugin &probe, const std::string &query, const std::string &path) {
  Outcome o = probe.call(1, {Array::string(query), Array::string(path)});
  EXPECT_TRUE(o.returned && !o.failed()) << o.error_id << ": " << o.error_message;
  EXPECT_TRUE(o.misuse.empty()) << o.misuse.front();
  return o;
}

TEST(DoctorProbe, AsksTheDriverAndLeavesTheBoardAsItWas) {
  simctl::command("reset");
  Plugin probe(probe_path());
  ASSERT_TRUE(probe.loaded()) << probe.error();
  mexhost::install_sigint_handler();
  const auto descriptors = hostcheck::open_descriptors();
  const auto disposition = hostcheck::sigint_disposition();
  simctl::command("queue text \"left for the experiment\"");
  simctl::command("trace clear");

  for (const char *node : {"/dev/accel0", "/dev/accel1"}) {
    const Outcome o = ask(probe, "driver", node);
    EXPECT_EQ(number(o, "open_error"), 0) << node;
    EXPECT_EQ(number(o, "version"), 256) << node;
    EXPECT_EQ(number(o, "version_error"), 0) << node;
    EXPECT_EQ(number(o, "free_space_error"), 0) << node;
    EXPECT_EQ(number(o, "close_error"), 0) << node;
  }
  std::ostringstream events;
  for (const auto &line : simctl::trace()) {
    std::istringstream in(line);
    long tick;
    std::string event;
    in >> tick >> event;
    events << event << ' ';
  }
  EXPECT_EQ(events.str(), "open ioctl ioctl ioctl close open ioctl ioctl ioctl close ");
  EXPECT_EQ(simctl::command("pending accel0"), "23");
  EXPECT_TRUE(simctl::written("accel0").empty() && simctl::written("accel1").empty());
  EXPECT_EQ(hostcheck::open_descriptors(), descriptors);
  EXPECT_TRUE(hostcheck::sigint_disposition() == disposition);

  // A question refused: the host's error, by longjmp, and nothing open.
  const Outcome refused = probe.call(1, {Array::string("driver")});
  EXPECT_EQ(refused.error_id, "dap:usage");
  EXPECT_EQ(hostcheck::open_descriptors(), descriptors);

  // Nodes made wrong, as stat and open find them.
  simctl::command("node accel1 denied");
  const Outcome denied = ask(probe, "path", "/dev/accel1");
  EXPECT_EQ(text(denied, "kind"), "character device");
  EXPECT_EQ(text(denied, "owner"), "root");
  EXPECT_EQ(number(denied, "mode"), 0660);
  EXPECT_EQ(number(denied, "write_error"), EACCES);
  EXPECT_EQ(number(ask(probe, "driver", "/dev/accel1"), "open_error"), EACCES);
  simctl::command("node accel0 missing");
  EXPECT_EQ(number(ask(probe, "path", "/dev/accel0"), "error"), ENOENT);
  EXPECT_EQ(hostcheck::open_descriptors(), descriptors);
  simctl::command("reset");
}

} // namespace
