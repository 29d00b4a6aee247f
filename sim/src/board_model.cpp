#include "board_model.h"

#include <algorithm>

#include "device_nodes.h"
#include "text.h"

namespace dapsim {

void BoardModel::power_on(std::uint32_t seed) {
  stop_all_tasks();
  board_reset();
  played_.clear();
  partial_line_.clear();
  reseed(seed);
}

void BoardModel::reseed(std::uint32_t seed) {
  seed_ = seed;
  random_.seed(seed_);
}

void BoardModel::binary_from_host(const std::uint8_t *bytes, std::size_t count) {
  if (count == 0)
    return;
  binary_input_.insert(binary_input_.end(), bytes, bytes + count);
  const Tick at = now();
  for_each_task("on_binary_input", [&](Task &task) { task.on_binary_input(*this, at); });
}

void BoardModel::tick(Tick tick) {
  for_each_task("on_tick", [&](Task &task) { task.on_tick(*this, tick); });
}

std::string BoardModel::task_list() const {
  std::string out;
  for (const auto &d : definitions_)
    out += d.name + (running(d.name) ? " *" : "") + "\n";
  return out;
}

void BoardModel::send_binary(const std::uint8_t *bytes, std::size_t count) {
  out_.to_host(kBinaryNode, bytes, count);
}

void BoardModel::send_text(const std::string &text) {
  out_.to_host(kTextNode, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

std::vector<std::uint8_t> BoardModel::take_binary_input(std::size_t max) {
  const std::size_t n = std::min(max, binary_input_.size());
  std::vector<std::uint8_t> out(binary_input_.begin(),
                                binary_input_.begin() + static_cast<std::ptrdiff_t>(n));
  binary_input_.erase(binary_input_.begin(),
                      binary_input_.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

std::int64_t BoardModel::variable(const std::string &name) const {
  const auto it = variables_.find(text::upper(name));
  return it == variables_.end() ? 0 : it->second;
}

std::vector<std::int64_t> BoardModel::take_pipe(const std::string &name, std::size_t max) {
  std::vector<std::int64_t> out;
  const auto it = pipes_.find(text::upper(name));
  if (it == pipes_.end())
    return out;
  auto &values = it->second;
  const std::size_t n = std::min(max, values.size());
  out.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
  values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

void BoardModel::record_output(int output, std::int16_t value) { played_[output].push_back(value); }

void BoardModel::note(const std::string &text) { out_.trace("note " + text); }

bool BoardModel::running(const std::string &task) const {
  const std::string name = text::lower(task);
  return std::any_of(tasks_.begin(), tasks_.end(),
                     [&](const RunningTask &t) { return t.name == name; });
}

} // namespace dapsim
