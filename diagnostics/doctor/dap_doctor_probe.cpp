// dap_doctor_probe(query, ...): what dap_doctor asks the system, one query a
// call, answered as a struct. It changes nothing: a device node is opened,
// asked its driver requests and closed; nothing is written or read.
#include <cstdio>
#include <cstring>

#include "dap_link/mex_gateway.h"
#include "dap_link/rig_check.h"

namespace {

constexpr char kUsage[] = "usage: r = dap_doctor_probe('host' | 'clock' | 'path', P | "
                          "'driver', P | 'plugin', P)";

// A struct of one element, filled field by field and made when it is handed
// to the caller.
class Answer {
public:
  void number(const char *name, double value) { add(name, mxCreateDoubleScalar(value)); }
  void flag(const char *name, bool value) { add(name, mxCreateLogicalScalar(value)); }
  void text(const char *name, const char *value) { add(name, mxCreateString(value)); }
  // An errno and its text; 0 and '' when there is none (-1: a status other
  // than 0 with no errno).
  void error(const char *name, int value) {
    number(name, value);
    char field[64];
    std::snprintf(field, sizeof field, "%.40s_text", name);
    char buffer[128] = "";
    const char *reason = "";
    if (value > 0)
      reason = strerror_r(value, buffer, sizeof buffer);
    else if (value < 0)
      reason = "answered with a status other than 0";
    text(field, reason);
  }
  void hand_to(mxArray *&slot) {
    const char *names[kFields];
    for (int i = 0; i < count_; ++i)
      names[i] = names_[i];
    mxArray *array = mxCreateStructMatrix(1, 1, count_, names);
    for (int i = 0; i < count_; ++i)
      mxSetField(array, 0, names_[i], values_[i]);
    slot = array;
  }

private:
  static constexpr int kFields = 24;
  void add(const char *name, mxArray *value) {
    if (count_ == kFields)
      dap::mex::fail(dap::mex::kInternal, "too many fields in an answer");
    std::snprintf(names_[count_], sizeof names_[count_], "%.63s", name);
    values_[count_++] = value;
  }
  char names_[kFields][64] = {};
  mxArray *values_[kFields] = {};
  int count_ = 0;
};

void request(Answer &answer, const char *name, const dap::rig::RequestAnswer &a) {
  answer.number(name, a.answered ? a.value : -1);
  char field[48];
  std::snprintf(field, sizeof field, "%.30s_error", name);
  answer.error(field, a.answered ? 0 : a.error);
}

const char *path_argument(const dap::mex::Call &call) {
  if (call.nrhs < 2 || !mxIsChar(call.prhs[1]))
    dap::mex::fail(dap::mex::kUsage, kUsage);
  const dap::mex::Call rest{call.nlhs, call.plhs, call.nrhs - 1, call.prhs + 1};
  return dap::mex::text_argument(rest, 0, kUsage);
}

void command(const dap::mex::Call &call) {
  if (call.nrhs < 1 || !mxIsChar(call.prhs[0]))
    dap::mex::fail(dap::mex::kUsage, kUsage);
  const char *query = dap::mex::text_argument(call, 0, kUsage);
  const bool takes_path = std::strcmp(query, "path") == 0 || std::strcmp(query, "driver") == 0 ||
                          std::strcmp(query, "plugin") == 0;
  const bool alone = std::strcmp(query, "host") == 0 || std::strcmp(query, "clock") == 0;
  if (!(alone && call.nrhs == 1) && !(takes_path && call.nrhs == 2))
    dap::mex::fail(dap::mex::kUsage, kUsage);
  const char *path = takes_path ? path_argument(call) : "";
  Answer answer;
  if (std::strcmp(query, "host") == 0) {
    answer.flag("simulated", dap::rig::simulated_board());
    answer.flag("recorder", dap::rig::recorder_loaded());
    answer.text("stamp", dap::rig::build_stamp());
  } else if (std::strcmp(query, "clock") == 0) {
    // A fifth of a second on a rig's clock, at most a second of waiting.
    const auto clock = dap::rig::measure_clock(20, 1.0);
    answer.number("declared", static_cast<double>(clock.ticks_per_second_declared));
    answer.number("ticks", static_cast<double>(clock.ticks));
    answer.number("seconds", clock.seconds);
  } else if (std::strcmp(query, "path") == 0) {
    const auto found = dap::rig::examine_path(path);
    answer.error("error", found.error);
    answer.text("kind", found.error == 0 ? found.kind : "");
    answer.number("mode", found.mode);
    answer.number("uid", found.uid);
    answer.number("gid", found.gid);
    answer.text("owner", found.owner);
    answer.text("group", found.group);
    answer.number("size", static_cast<double>(found.size));
    answer.error("read_error", found.read_error);
    answer.error("write_error", found.write_error);
    answer.error("run_error", found.run_error);
  } else if (std::strcmp(query, "driver") == 0) {
    const auto driver = dap::rig::ask_driver(path);
    answer.error("open_error", driver.open_error);
    answer.flag("descriptor_zero", driver.descriptor_zero);
    request(answer, "version", driver.version);
    request(answer, "readable", driver.readable);
    request(answer, "free_space", driver.free_space);
    answer.error("close_error", driver.close_error);
  } else {
    const auto plugin = dap::rig::examine_plugin(path);
    answer.flag("loads", plugin.loads);
    answer.flag("has_entry", plugin.has_entry);
    answer.text("error", plugin.error);
    answer.text("stamp", plugin.stamp);
  }
  answer.hand_to(call.plhs[0]);
}

} // namespace

DAP_MEX_GATEWAY(1, command)
