// The board the task behaviours see: its DAPL interpreter, its tasks,
// variables and pipes, its binary input and what its outputs played. It
// reaches outside itself only through its Surroundings.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dapsim/board.h"

namespace dapsim {

class BoardModel final : public Board {
public:
  static constexpr std::size_t kBinaryInputSize = 4096;

  // The clock, the driver's buffers toward the host, the trace, and a
  // scenario's rules, which may answer a line of the text channel.
  class Surroundings {
  public:
    virtual Tick now() const = 0;
    virtual void to_host(int node, const std::uint8_t *bytes, std::size_t count) = 0;
    virtual std::size_t host_room() const = 0;
    virtual void trace(std::string text) = 0;
    virtual void line_arrived(const std::string &line) = 0;

  protected:
    ~Surroundings() = default;
  };

  explicit BoardModel(Surroundings &surroundings) : out_(surroundings) {}

  // A power-on board with the given seed: no tasks, nothing played.
  void power_on(std::uint32_t seed);
  void reseed(std::uint32_t seed);
  // What the host wrote to the text channel (DAPL lines) or the binary one.
  void text_from_host(const std::uint8_t *bytes, std::size_t count);
  void binary_from_host(const std::uint8_t *bytes, std::size_t count);
  std::size_t binary_input_room() const { return kBinaryInputSize - binary_input_.size(); }
  // Runs the tasks' tick.
  void tick(Tick tick);
  bool idle() const { return tasks_.empty(); }
  void set_loaded(bool loaded) { loaded_ = loaded; }
  // Defined tasks, one a line in definition order, " *" after running ones.
  std::string task_list() const;
  const std::vector<std::int16_t> &played(int output) { return played_[output]; }

  // Board, for the task behaviours.
  Tick now() const override { return out_.now(); }
  void send_binary(const std::uint8_t *bytes, std::size_t count) override;
  using Board::send_binary;
  void send_text(const std::string &text) override;
  std::size_t binary_room() const override { return out_.host_room(); }
  std::size_t binary_input_size() const override { return binary_input_.size(); }
  std::vector<std::uint8_t> take_binary_input(std::size_t max) override;
  std::int64_t variable(const std::string &name) const override;
  std::vector<std::int64_t> take_pipe(const std::string &name, std::size_t max) override;
  void record_output(int output, std::int16_t value) override;
  bool loaded() const override { return loaded_; }
  std::mt19937 &random() override { return random_; }
  void note(const std::string &text) override;
  bool running(const std::string &task) const override;

private:
  struct RunningTask {
    std::string name;
    std::unique_ptr<Task> task;
  };

  // The DAPL interpreter (dapl.cpp).
  void board_reset();
  void dapl_line(const std::string &raw);
  void dapl_error(const std::string &reason, const std::string &line);
  void start_task(const TaskDefinition &definition);
  void stop_task(const std::string &name);
  void stop_all_tasks();
  const TaskDefinition *definition(const std::string &name) const;
  void for_each_task(const char *hook, const std::function<void(Task &)> &call);

  Surroundings &out_;
  std::uint32_t seed_ = 1;
  std::mt19937 random_;
  bool loaded_ = false;
  std::deque<std::uint8_t> binary_input_;
  std::string partial_line_;
  std::optional<TaskDefinition> defining_;
  std::vector<TaskDefinition> definitions_;
  std::vector<RunningTask> tasks_;
  std::map<std::string, std::int64_t> variables_;
  std::map<std::string, std::deque<std::int64_t>> pipes_;
  std::map<int, std::vector<std::int16_t>> played_;
};

} // namespace dapsim
