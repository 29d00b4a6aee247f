#include "calls.h"

#include <cctype>

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

std::vector<std::string> split_names(const std::string &text) {
  std::vector<std::string> names;
  std::string name;
  for (const char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!name.empty())
        names.push_back(name);
      name.clear();
    } else {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return names;
}

void take_line(const std::string &line, std::size_t at, long carried, Board *board,
               CallView *view) {
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string::npos)
    return;
  if (view->first_line.empty())
    view->first_line = line.substr(first);
  const auto word_end = std::min(line.find_first_of(" \t", first), line.size());
  std::string word = line.substr(first, word_end - first);
  for (char &c : word)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto names_at = line.find_first_not_of(" \t", word_end);
  const std::string names = names_at == std::string::npos ? "" : line.substr(names_at);
  auto cut = [&] {
    if (!view->own && view->to == SIZE_MAX)
      view->to = at;
  };
  if (word == "reset") {
    for (Running &r : board->running)
      r.alive = false;
    board->defining = false;
    view->say("reset");
  } else if (board->defining) {
    board->defining = word != "end";
    return;
  } else if (word == "pdef" || word == "idef" || word == "odef") {
    board->defining = true;
    if (!names.empty())
      view->say("defines", split_names(names)[0]);
  } else if (word == "stop" && names.empty()) {
    for (Running &r : board->running)
      r.alive = false;
    view->say("stop");
  } else if (word == "stop") {
    for (const std::string &name : split_names(names))
      for (Running &r : board->running)
        for (const std::string &task : r.tasks)
          if (task == name)
            r.alive = false;
    view->say("stops", names);
  } else if (word == "start") {
    view->say("starts", names.empty() ? "all" : names);
    const std::vector<std::string> tasks = split_names(names);
    const Family *family = family_of(tasks);
    if (!names.empty())
      board->running.push_back({tasks, family, true});
    if (family != nullptr && !(view->own && view->family == family)) {
      view->family = family;
      view->own = true;
      view->from = at + 1;
      view->to = SIZE_MAX;
    } else if (family == nullptr) {
      cut();
    }
  }
  if (carried >= 0 && !board->running[static_cast<std::size_t>(carried)].alive)
    cut();
}

bool decoded(const Record &r, std::size_t i, const CallView &view) {
  if (view.family == nullptr || r.node != dapsession::kAccel1 || r.data_size == 0 || i >= view.to)
    return false;
  if (r.kind == Kind::write)
    return !view.family->writes.empty();
  return r.kind == Kind::read && i >= view.from && !view.family->reads.empty();
}

} // namespace dapsession::tool
