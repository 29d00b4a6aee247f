// The board loader as the host runs it: through system(), or with
// posix_spawn and a wait of its own; either way our stand-in runs in its
// place, as the scenario or a replay says the run goes.
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

#include "simulator.h"
#include "text.h"

namespace dapsim {

// The stand-in takes the loader's arguments, as the shell passes them, and
// runs through the C library's system() like the real loader would: a child
// of the host whose end reaches the host as on a rig. We return once the
// host has seen that end, so that what it does next does not depend on when
// its signal thread woke up. A replay gives the host the recorded status,
// whatever it was: the stand-in then exits with the recorded exit status (0
// when a signal ended the recorded run), and is not started at all when the
// recorded system() could not start the loader.
LoaderRun Simulator::prepare_loader(const char *command_line) {
  LoaderRun run;
  run.command_line = command_line;
  LoaderScenario how;
  bool sigint_now = false;
  locked([&] {
    sigint_now = host_.take_sigint_before_loader();
    if (sigint_now)
      trace("sigint loader");
    how = loader_;
    if (replay_) {
      how.missing = false;
      how.interrupted = false;
      run.recorded = replay_->loader_run(command_line, &run.recorded_errno);
      if (run.recorded)
        how.exit = WIFEXITED(*run.recorded) ? WEXITSTATUS(*run.recorded) : 0;
    }
    return 0;
  });
  if (sigint_now)
    pthread_kill(pthread_self(), SIGINT);
  if (!run.recorded || *run.recorded != -1)
    run.shell_line = stand_in_line(command_line, how);
  return run;
}

// The run is over: the trace tells how it ended and the board counts as
// loaded only after a load that exited 0. A replay gives the recorded status.
int Simulator::finish_loader(const LoaderRun &run, int status, int error) {
  if (run.recorded) {
    status = *run.recorded;
    error = run.recorded_errno;
  }
  locked([&] {
    if (replay_)
      replay_->loader_over();
    trace("system " + text::quoted(run.command_line) + " -> " + loader_outcome(status, error));
    // A load that failed leaves no program on the board.
    board_.set_loaded(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return 0;
  });
  errno = error;
  return status;
}

int Simulator::run_loader(const char *command_line) {
  const LoaderRun run = prepare_loader(command_line);
  int status = -1;
  int error = run.recorded_errno;
  if (!run.shell_line.empty()) {
    status = real::system()(run.shell_line.c_str());
    error = errno;
    if (status != -1)
      host::await_child_end_seen();
  }
  return finish_loader(run, status, error);
}

// A host that starts the loader itself, with posix_spawn and waitpid, gets
// the stand-in as its child in the same way; the host holds SIGCHLD until it
// has waited, so its end reaches the host as the host's own wait returns.
int Simulator::spawn_loader(pid_t *pid, const char *command_line,
                            const posix_spawn_file_actions_t *actions,
                            const posix_spawnattr_t *attributes, char *const environment[]) {
  LoaderRun run = prepare_loader(command_line);
  if (run.shell_line.empty()) {
    finish_loader(run, -1, run.recorded_errno);
    return run.recorded_errno != 0 ? run.recorded_errno : EAGAIN;
  }
  char shell[] = "sh";
  char option[] = "-c";
  char *const arguments[] = {shell, option, run.shell_line.data(), nullptr};
  pid_t child = -1;
  const int error =
      real::posix_spawn()(&child, "/bin/sh", actions, attributes, arguments, environment);
  if (error != 0) {
    finish_loader(run, -1, error);
    return error;
  }
  if (pid != nullptr)
    *pid = child;
  locked([&] {
    spawned_loaders_[child] = std::move(run);
    loaders_spawned_.fetch_add(1);
    return 0;
  });
  return 0;
}

void Simulator::loader_waited(pid_t pid, int *status) {
  std::optional<LoaderRun> run;
  locked([&] {
    const auto it = spawned_loaders_.find(pid);
    if (it != spawned_loaders_.end()) {
      run = std::move(it->second);
      spawned_loaders_.erase(it);
      loaders_spawned_.fetch_sub(1);
    }
    return 0;
  });
  if (run) {
    const int saved = errno;
    *status = finish_loader(*run, *status, 0);
    errno = saved;
  }
}

} // namespace dapsim
