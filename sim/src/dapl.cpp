// The board's DAPL interpreter: what the text channel's lines do.
#include <algorithm>
#include <cctype>
#include <exception>

#include "board_model.h"
#include "registry.h"
#include "text.h"

namespace dapsim {
namespace {

// A task that was defined but has no behaviour: it runs and does nothing.
class IdleTask final : public Task {};

std::vector<std::string> words(const std::string &line, bool commas_separate) {
  std::vector<std::string> out;
  std::string word;
  for (const char c : line) {
    const bool separator =
        std::isspace(static_cast<unsigned char>(c)) || (commas_separate && c == ',');
    if (separator) {
      if (!word.empty())
        out.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty())
    out.push_back(std::move(word));
  return out;
}

// The rest of the line after its first word.
std::string after_keyword(const std::string &line) {
  std::size_t i = 0;
  while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
    ++i;
  return text::trim(line.substr(i));
}

} // namespace

void BoardModel::text_from_host(const std::uint8_t *bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] == '\r') {
      const std::string line = std::move(partial_line_);
      partial_line_.clear();
      dapl_line(line);
    } else if (partial_line_.size() < 65536) {
      partial_line_ += static_cast<char>(bytes[i]);
    }
  }
}

void BoardModel::board_reset() {
  stop_all_tasks();
  defining_.reset();
  definitions_.clear();
  variables_.clear();
  pipes_.clear();
  // What the board already sent sits in the driver's buffers on the host
  // side; a RESET of the board does not take it back (that is why the reset
  // sequence drains both channels afterwards).
  binary_input_.clear();
  random_.seed(seed_);
}

void BoardModel::dapl_error(const std::string &reason, const std::string &line) {
  const std::string message = "ERROR " + reason + ": " + line;
  send_text(message + "\r\n");
}

void BoardModel::for_each_task(const char *hook, const std::function<void(Task &)> &call) {
  // A behaviour that throws must not unwind through the host's read() or
  // write(); it is reported and the run goes on.
  for (auto &t : tasks_) {
    try {
      call(*t.task);
    } catch (const std::exception &e) {
      out_.trace("note task " + t.name + " failed in " + hook + ": " + e.what());
    } catch (...) {
      out_.trace("note task " + t.name + " failed in " + hook);
    }
  }
}

const TaskDefinition *BoardModel::definition(const std::string &name) const {
  for (const auto &d : definitions_)
    if (d.name == name)
      return &d;
  return nullptr;
}

void BoardModel::start_task(const TaskDefinition &def) {
  stop_task(def.name);
  std::unique_ptr<Task> task;
  if (const TaskFactory *factory = find_task_factory(def.name)) {
    try {
      task = (*factory)(def);
    } catch (const std::exception &e) {
      out_.trace("note task " + def.name + " could not be created: " + e.what());
    }
  }
  if (!task)
    task = std::make_unique<IdleTask>();
  tasks_.push_back({def.name, std::move(task)});
  const Tick tick = now();
  RunningTask &started = tasks_.back();
  try {
    started.task->on_start(*this, tick);
  } catch (const std::exception &e) {
    out_.trace("note task " + def.name + " failed in on_start: " + e.what());
  }
}

void BoardModel::stop_task(const std::string &name) {
  const auto it = std::find_if(tasks_.begin(), tasks_.end(),
                               [&](const RunningTask &t) { return t.name == name; });
  if (it == tasks_.end())
    return;
  RunningTask stopping = std::move(*it);
  tasks_.erase(it);
  try {
    stopping.task->on_stop(*this, now());
  } catch (const std::exception &e) {
    out_.trace("note task " + name + " failed in on_stop: " + e.what());
  }
}

void BoardModel::stop_all_tasks() {
  while (!tasks_.empty())
    stop_task(tasks_.front().name);
}

void BoardModel::dapl_line(const std::string &raw) {
  std::string line = raw;
  std::replace(line.begin(), line.end(), '\n', ' ');
  line = text::trim(line);

  // A scenario may answer a line with data or an interrupt.
  out_.line_arrived(line);

  const std::vector<std::string> parts = words(line, false);
  const std::string keyword = parts.empty() ? std::string() : text::upper(parts[0]);

  // RESET is the host's way back to a known board, even from the middle of a
  // definition that never got its END (a file cut short by a Ctrl-C).
  if (keyword == "RESET" && parts.size() == 1) {
    board_reset();
    return;
  }

  if (defining_) {
    if (keyword == "END" && parts.size() == 1) {
      TaskDefinition done = std::move(*defining_);
      defining_.reset();
      const auto it = std::find_if(definitions_.begin(), definitions_.end(),
                                   [&](const TaskDefinition &d) { return d.name == done.name; });
      if (it != definitions_.end())
        *it = std::move(done);
      else
        definitions_.push_back(std::move(done));
    } else {
      defining_->body.push_back(line);
    }
    return;
  }

  if (line.empty() || line[0] == ';' || line.compare(0, 2, "//") == 0)
    return;

  if (keyword == "PDEF" || keyword == "IDEF" || keyword == "ODEF") {
    if (parts.size() < 2) {
      dapl_error("malformed line", line);
      return;
    }
    TaskDefinition def;
    def.kind = text::lower(keyword);
    def.name = text::lower(parts[1]);
    def.header = text::lower(line);
    defining_ = std::move(def);
    return;
  }
  if (keyword == "START" || keyword == "STOP") {
    const std::vector<std::string> names = words(after_keyword(line), true);
    for (const auto &n : names) {
      if (definition(text::lower(n)) == nullptr) {
        // The board refuses the whole line, as it parses it before acting.
        dapl_error("undefined task", line);
        return;
      }
    }
    if (keyword == "START") {
      if (names.empty()) {
        const std::vector<TaskDefinition> all = definitions_;
        for (const auto &d : all)
          if (!running(d.name))
            start_task(d);
      } else {
        for (const auto &n : names) {
          const TaskDefinition def = *definition(text::lower(n));
          start_task(def);
        }
      }
    } else if (names.empty()) {
      stop_all_tasks();
    } else {
      for (const auto &n : names)
        stop_task(text::lower(n));
    }
    return;
  }
  if (keyword == "LET") {
    const std::string rest = after_keyword(line);
    const auto equals = rest.find('=');
    const std::string name = equals == std::string::npos
                                 ? std::string()
                                 : text::upper(text::trim(rest.substr(0, equals)));
    const auto value = equals == std::string::npos
                           ? std::nullopt
                           : text::parse_integer(text::trim(rest.substr(equals + 1)));
    if (name.empty() || name.find_first_of(" \t") != std::string::npos || !value) {
      dapl_error("malformed line", line);
      return;
    }
    variables_[name] = *value;
    for_each_task("on_let", [&](Task &task) { task.on_let(*this, name, *value); });
    return;
  }
  if (keyword == "FILL") {
    const std::vector<std::string> items = words(after_keyword(line), true);
    if (items.empty()) {
      dapl_error("malformed line", line);
      return;
    }
    std::vector<std::int64_t> values;
    for (std::size_t i = 1; i < items.size(); ++i) {
      const auto value = text::parse_integer(items[i]);
      if (!value) {
        dapl_error("malformed line", line);
        return;
      }
      values.push_back(*value);
    }
    const std::string pipe = text::upper(items[0]);
    auto &contents = pipes_[pipe];
    contents.insert(contents.end(), values.begin(), values.end());
    for_each_task("on_fill", [&](Task &task) { task.on_fill(*this, pipe, values); });
    return;
  }
  if (keyword == "PIPES") {
    const std::vector<std::string> names = words(after_keyword(line), true);
    if (names.empty()) {
      dapl_error("malformed line", line);
      return;
    }
    for (const auto &n : names)
      pipes_[text::upper(n)];
    return;
  }
  if (keyword == "END") {
    dapl_error("END without definition", line);
    return;
  }
  dapl_error("unknown command", line);
}

} // namespace dapsim
