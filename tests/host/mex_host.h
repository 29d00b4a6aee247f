// A small MEX host that runs the plug-ins the way MATLAB does where MATLAB
// and Octave differ:
//
// - an error (mexErrMsgTxt, mexErrMsgIdAndTxt) leaves mexFunction by longjmp
//   to the host's frame, so the plug-in's destructors do not run;
// - the host has a SIGINT handler of its own, installed with sigaction and
//   SA_SIGINFO | SA_ONSTACK on an alternate signal stack, on the thread that
//   calls the plug-in (so a plug-in's own SIGINT handler runs on that thread);
// - a Ctrl-C in the desktop reaches the plug-in only through the interrupt
//   query utIsInterruptPending(), which this executable exports;
// - plhs has exactly max(nargout, 1) slots.
//
// The mx/mex functions the plug-ins call are exported from the test
// executable; the plug-ins link no library for them.
#pragma once

#include <signal.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

extern "C" bool utIsInterruptPending();

namespace mexhost {

// A MATLAB value: a real double matrix, a character array (column-major),
// or a struct of one element. A logical is a double here.
struct Array {
  enum class Kind { real_double, text, structure };
  Kind kind = Kind::real_double;
  std::size_t rows = 0;
  std::size_t columns = 0;
  std::vector<double> values;
  std::string text;
  std::vector<std::string> field_names;
  std::vector<Array> field_values;

  // The field's value; nullptr when the struct has no such field (or none
  // was set).
  const Array *field(const std::string &name) const;

  static Array matrix(std::size_t rows, std::size_t columns, std::vector<double> values = {});
  static Array row(std::vector<double> values);
  static Array string(const std::string &text);
};

struct Warning {
  std::string id;
  std::string message;
};

// What one call of mexFunction did.
struct Outcome {
  bool returned = false; // false: the call ended by an error
  std::string error_id;  // "MATLAB:unassignedOutputs" when a requested result was not set
  std::string error_message;
  std::vector<Warning> warnings;
  std::string printed;         // through mexPrintf
  std::string standard_output; // written to descriptor 1 during the call
  // One entry per result slot; all empty after an error, as MATLAB discards them.
  std::vector<std::optional<Array>> results;
  // Misuse of the MEX interface the host noticed (an array destroyed twice, ...).
  std::vector<std::string> misuse;

  bool failed() const { return !error_id.empty() || !error_message.empty(); }
};

class Plugin {
public:
  // dlopen(RTLD_NOW | RTLD_LOCAL); see error() when it failed.
  explicit Plugin(std::string path);
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;
  ~Plugin();

  bool loaded() const { return entry_ != nullptr; }
  const std::string &error() const { return error_; }
  const std::string &path() const { return path_; }

  Outcome call(int nargout, const std::vector<Array> &args = {});

  // dlclose, as MATLAB's "clear" does.
  void unload();
  // True while the module is mapped into the process.
  bool mapped() const;

private:
  using Entry = void (*)(int, void **, int, const void **);
  std::string path_;
  std::string error_;
  void *handle_ = nullptr;
  Entry entry_ = nullptr;
};

// The host's SIGINT handler. Installing it again puts it back as it was.
void install_sigint_handler();
// The disposition install_sigint_handler() put in force.
const struct sigaction &host_sigint_action();
// Runs of the host's handler, and how many of them ran as installed: with
// SA_SIGINFO in force and on the alternate stack.
int sigint_handler_runs();
int sigint_handler_runs_as_installed();

// The interrupt query: from the moment `source` first answers true, the
// interrupt is pending until clear_interrupt(). The host's SIGINT handler
// also makes it pending, as a Ctrl-C at MATLAB's terminal does.
void set_interrupt_source(std::function<bool()> source);
bool interrupt_pending();
long interrupt_queries();
// Forgets the pending interrupt, the source, the query count and the
// handler's run counts: what the host does once it has dealt with a Ctrl-C.
void clear_interrupt();

} // namespace mexhost
