#include "mex_host.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

#include "mex.h"

#ifdef DAP_SANITIZE
// A plug-in linked with a static C++ runtime (as for MATLAB) keeps that
// runtime's exception-handling pool for good; once the host unloads it, the
// pool has no owner left and LeakSanitizer reports it. The variables a test
// is given do not reach every test of a discovered suite, so the host says it.
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options() {
  return "detect_leaks=0";
}
#endif

namespace mexhost {
namespace {

// The call in progress. mexErrMsgTxt jumps back to its frame.
struct CallState {
  Outcome outcome;
  std::vector<Array *> created;  // arrays the plug-in made and still owns
  std::vector<void *> allocated; // mxCalloc/mxMalloc blocks, freed when the call ends
  std::jmp_buf frame;
};
CallState *g_call = nullptr;

CallState &current(const char *function) {
  if (g_call == nullptr) {
    std::fprintf(stderr, "mexhost: %s called outside a call of mexFunction\n", function);
    std::abort();
  }
  return *g_call;
}

std::string format(const char *fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0)
    return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), fmt, args);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void record_error(const char *id, const char *fmt, va_list args) {
  Outcome &outcome = current("mexErrMsgTxt").outcome;
  outcome.error_id = id != nullptr ? id : "";
  outcome.error_message = fmt != nullptr ? format(fmt, args) : "";
}

// Called with no object of ours alive between here and the call's frame: only
// the plug-in's frames are left without their destructors, as under MATLAB.
[[noreturn]] void end_call_by_error() { std::longjmp(current("mexErrMsgTxt").frame, 1); }

Array *array_of(const mxArray *a) { return static_cast<Array *>(const_cast<mxArray *>(a)); }

// Descriptor 1 goes to a memory file for the length of the call.
class OutputCapture {
public:
  OutputCapture() {
    std::fflush(stdout);
    file_ = memfd_create("mexhost-stdout", MFD_CLOEXEC);
    saved_ = dup(STDOUT_FILENO);
    if (file_ >= 0 && saved_ >= 0)
      dup2(file_, STDOUT_FILENO);
  }
  OutputCapture(const OutputCapture &) = delete;
  OutputCapture &operator=(const OutputCapture &) = delete;
  ~OutputCapture() { finish(); }

  std::string finish() {
    std::string text;
    if (saved_ < 0 && file_ < 0)
      return text;
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
      saved_ = -1;
    }
    if (file_ >= 0) {
      lseek(file_, 0, SEEK_SET);
      char buffer[4096];
      for (ssize_t n; (n = read(file_, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
      close(file_);
      file_ = -1;
    }
    return text;
  }

private:
  int file_ = -1;
  int saved_ = -1;
};

// ------------------------------------------------------------ interrupts

std::atomic<int> g_handler_runs{0};
std::atomic<int> g_handler_runs_as_installed{0};
std::atomic<bool> g_pending{false};
std::atomic<long> g_queries{0};
std::function<bool()> g_source;
struct sigaction g_host_action {};

void host_sigint(int, siginfo_t *, void *) {
  g_handler_runs.fetch_add(1);
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  stack_t stack{};
  sigaltstack(nullptr, &stack);
  if ((now.sa_flags & SA_SIGINFO) != 0 && (stack.ss_flags & SS_ONSTACK) != 0)
    g_handler_runs_as_installed.fetch_add(1);
  g_pending.store(true);
}

} // namespace

// ---------------------------------------------------------------- arrays

Array Array::matrix(std::size_t rows, std::size_t columns, std::vector<double> values) {
  Array a;
  a.rows = rows;
  a.columns = columns;
  a.values = std::move(values);
  a.values.resize(rows * columns);
  return a;
}

Array Array::row(std::vector<double> values) {
  const std::size_t n = values.size();
  return matrix(1, n, std::move(values));
}

const Array *Array::field(const std::string &name) const {
  for (std::size_t i = 0; i < field_names.size(); ++i)
    if (field_names[i] == name)
      return &field_values[i];
  return nullptr;
}

Array Array::string(const std::string &text) {
  Array a;
  a.kind = Kind::text;
  a.rows = text.empty() ? 0 : 1;
  a.columns = text.size();
  a.text = text;
  return a;
}

// --------------------------------------------------------------- plug-ins

Plugin::Plugin(std::string path) : path_(std::move(path)) {
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    error_ = dlerror();
    return;
  }
  entry_ = reinterpret_cast<Entry>(dlsym(handle_, "mexFunction"));
  if (entry_ == nullptr)
    error_ = "no mexFunction in " + path_;
}

Plugin::~Plugin() { unload(); }

void Plugin::unload() {
  entry_ = nullptr;
  if (handle_ != nullptr)
    dlclose(handle_);
  handle_ = nullptr;
}

bool Plugin::mapped() const {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.size() >= path_.size() &&
        line.compare(line.size() - path_.size(), path_.size(), path_) == 0)
      return true;
  return false;
}

Outcome Plugin::call(int nargout, const std::vector<Array> &args) {
  if (entry_ == nullptr) {
    Outcome refused;
    refused.error_id = "mexhost:notLoaded";
    refused.error_message = error_.empty() ? "plug-in not loaded" : error_;
    return refused;
  }
  CallState state;
  // Exactly the slots MATLAB provides, on the heap so that the sanitizer sees
  // a write past them.
  const std::size_t slots = static_cast<std::size_t>(std::max(nargout, 1));
  std::unique_ptr<void *[]> plhs(new void *[slots]());
  std::unique_ptr<const void *[]> prhs(new const void *[args.size()]);
  for (std::size_t i = 0; i < args.size(); ++i)
    prhs[i] = &args[i];

  OutputCapture capture;
  g_call = &state;
  if (setjmp(state.frame) == 0) {
    entry_(nargout, plhs.get(), static_cast<int>(args.size()), prhs.get());
    state.outcome.returned = true;
  }
  g_call = nullptr;
  state.outcome.standard_output = capture.finish();

  Outcome &outcome = state.outcome;
  if (outcome.returned) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(nargout); ++i)
      if (plhs[i] == nullptr && !outcome.failed()) {
        outcome.error_id = "MATLAB:unassignedOutputs";
        outcome.error_message = "One or more output arguments not assigned during call.";
      }
    outcome.results.resize(slots);
    for (std::size_t i = 0; i < slots; ++i) {
      if (plhs[i] == nullptr)
        continue;
      auto *result = static_cast<Array *>(plhs[i]);
      auto owned = std::find(state.created.begin(), state.created.end(), result);
      if (owned == state.created.end()) {
        outcome.misuse.push_back("result " + std::to_string(i + 1) +
                                 " is not an array the call created");
        continue;
      }
      outcome.results[i] = std::move(*result);
      delete result;
      state.created.erase(owned);
    }
  }
  // MATLAB frees what the call made and did not hand back.
  for (Array *a : state.created)
    delete a;
  for (void *block : state.allocated)
    std::free(block);
  return std::move(state.outcome);
}

// ------------------------------------------------------------- interrupts

void install_sigint_handler() {
  static std::once_flag once;
  std::call_once(once, [] {
    static std::unique_ptr<char[]> stack_memory(new char[1 << 16]);
    stack_t stack{};
    stack.ss_sp = stack_memory.get();
    stack.ss_size = 1 << 16;
    sigaltstack(&stack, nullptr);
    g_host_action.sa_sigaction = host_sigint;
    g_host_action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A mask of our own, so that a disposition restored without its mask shows.
    sigemptyset(&g_host_action.sa_mask);
    sigaddset(&g_host_action.sa_mask, SIGTERM);
  });
  sigaction(SIGINT, &g_host_action, nullptr);
}

const struct sigaction &host_sigint_action() { return g_host_action; }

int sigint_handler_runs() { return g_handler_runs.load(); }
int sigint_handler_runs_as_installed() { return g_handler_runs_as_installed.load(); }

void set_interrupt_source(std::function<bool()> source) { g_source = std::move(source); }
bool interrupt_pending() { return g_pending.load(); }
long interrupt_queries() { return g_queries.load(); }

void clear_interrupt() {
  g_source = nullptr;
  g_pending.store(false);
  g_queries.store(0);
  g_handler_runs.store(0);
  g_handler_runs_as_installed.store(0);
}

} // namespace mexhost

// ------------------------------------------------- the MEX interface served

using mexhost::Array;
using mexhost::array_of;
using mexhost::current;

extern "C" {

bool utIsInterruptPending() {
  mexhost::g_queries.fetch_add(1);
  if (!mexhost::g_pending.load() && mexhost::g_source && mexhost::g_source())
    mexhost::g_pending.store(true);
  return mexhost::g_pending.load();
}

int mexPrintf(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = mexhost::format(fmt, args);
  va_end(args);
  current("mexPrintf").outcome.printed += text;
  return static_cast<int>(text.size());
}

void mexErrMsgTxt(const char *message) {
  mexhost::current("mexErrMsgTxt").outcome.error_message = message != nullptr ? message : "";
  mexhost::end_call_by_error();
}

void mexErrMsgIdAndTxt(const char *id, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  mexhost::record_error(id, fmt, args);
  va_end(args);
  mexhost::end_call_by_error();
}

void mexWarnMsgTxt(const char *message) {
  current("mexWarnMsgTxt").outcome.warnings.push_back({"", message != nullptr ? message : ""});
}

void mexWarnMsgIdAndTxt(const char *id, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string message = mexhost::format(fmt, args);
  va_end(args);
  current("mexWarnMsgIdAndTxt").outcome.warnings.push_back({id != nullptr ? id : "", message});
}

mxArray *mxCreateDoubleMatrix(mwSize rows, mwSize columns, mxComplexity complexity) {
  auto &call = current("mxCreateDoubleMatrix");
  if (complexity != mxREAL)
    call.outcome.misuse.push_back("complex matrices are not served");
  auto *a =
      new Array(Array::matrix(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns)));
  call.created.push_back(a);
  return a;
}

static mxArray *created(Array value, const char *function) {
  auto &call = current(function);
  auto *a = new Array(std::move(value));
  call.created.push_back(a);
  return a;
}

mxArray *mxCreateDoubleScalar(double value) {
  return created(Array::row({value}), "mxCreateDoubleScalar");
}

mxArray *mxCreateLogicalScalar(mxLogical value) {
  return created(Array::row({value ? 1.0 : 0.0}), "mxCreateLogicalScalar");
}

mxArray *mxCreateString(const char *text) {
  return created(Array::string(text != nullptr ? text : ""), "mxCreateString");
}

mxArray *mxCreateStructMatrix(mwSize rows, mwSize columns, int fields, const char **names) {
  Array s;
  s.kind = Array::Kind::structure;
  s.rows = static_cast<std::size_t>(rows);
  s.columns = static_cast<std::size_t>(columns);
  if (rows != 1 || columns != 1)
    current("mxCreateStructMatrix").outcome.misuse.push_back("only 1 x 1 structs are served");
  for (int i = 0; i < fields; ++i) {
    s.field_names.emplace_back(names[i]);
    s.field_values.emplace_back();
  }
  return created(std::move(s), "mxCreateStructMatrix");
}

// The struct takes the value over: the call no longer owns it.
void mxSetField(mxArray *structure, mwIndex index, const char *name, mxArray *value) {
  auto &call = current("mxSetField");
  Array *s = array_of(structure);
  auto owned = std::find(call.created.begin(), call.created.end(), static_cast<Array *>(value));
  if (s->kind != Array::Kind::structure || index != 0 || owned == call.created.end()) {
    call.outcome.misuse.push_back("mxSetField on what is no struct, or of an array not the call's");
    return;
  }
  for (std::size_t i = 0; i < s->field_names.size(); ++i) {
    if (s->field_names[i] == name) {
      s->field_values[i] = std::move(**owned);
      delete *owned;
      call.created.erase(owned);
      return;
    }
  }
  call.outcome.misuse.push_back(std::string("mxSetField of a field the struct lacks: ") + name);
}

void mxDestroyArray(mxArray *array) {
  auto &call = current("mxDestroyArray");
  if (array == nullptr)
    return;
  auto owned = std::find(call.created.begin(), call.created.end(), static_cast<Array *>(array));
  if (owned == call.created.end()) {
    call.outcome.misuse.push_back("mxDestroyArray of an array the call does not own");
    return;
  }
  delete *owned;
  call.created.erase(owned);
}

double *mxGetPr(const mxArray *a) {
  Array *array = array_of(a);
  return array->kind == Array::Kind::real_double && !array->values.empty() ? array->values.data()
                                                                           : nullptr;
}

size_t mxGetM(const mxArray *a) { return array_of(a)->rows; }
size_t mxGetN(const mxArray *a) { return array_of(a)->columns; }
bool mxIsDouble(const mxArray *a) { return array_of(a)->kind == Array::Kind::real_double; }
bool mxIsChar(const mxArray *a) { return array_of(a)->kind == Array::Kind::text; }
bool mxIsComplex(const mxArray *) { return false; }
bool mxIsSparse(const mxArray *) { return false; }

int mxGetString(const mxArray *a, char *buffer, mwSize length) {
  const Array *array = array_of(a);
  if (array->kind != Array::Kind::text || buffer == nullptr || length <= 0)
    return 1;
  const std::size_t room = static_cast<std::size_t>(length) - 1;
  const std::size_t n = std::min(room, array->text.size());
  array->text.copy(buffer, n);
  buffer[n] = '\0';
  return n == array->text.size() ? 0 : 1;
}

void *mxCalloc(size_t count, size_t size) {
  void *block = std::calloc(count, size);
  if (block != nullptr)
    current("mxCalloc").allocated.push_back(block);
  return block;
}

void *mxMalloc(size_t size) {
  void *block = std::malloc(size);
  if (block != nullptr)
    current("mxMalloc").allocated.push_back(block);
  return block;
}

void mxFree(void *block) {
  if (block == nullptr)
    return;
  auto &blocks = current("mxFree").allocated;
  auto owned = std::find(blocks.begin(), blocks.end(), block);
  if (owned == blocks.end()) {
    current("mxFree").outcome.misuse.push_back("mxFree of a block the call did not allocate");
    return;
  }
  std::free(block);
  blocks.erase(owned);
}

} // extern "C"
