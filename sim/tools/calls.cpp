#include "calls.h"

#include <algorithm>
#include <cctype>

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

namespace {

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

// `line` sent in record `at` of the call. `carried` is the entry of
// board->running whose family the call took over (-1: none); once it stops,
// or other tasks start, its records end there.
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

} // namespace

bool decoded(const Record &r, std::size_t i, const CallView &view) {
  if (view.family == nullptr || r.node != dapsession::kAccel1 || r.data_size == 0 || i >= view.to)
    return false;
  if (r.kind == Kind::write)
    return !view.family->writes.empty();
  return r.kind == Kind::read && i >= view.from && !view.family->reads.empty();
}

void CallFinder::end_run() {
  run_first_ = SIZE_MAX;
  prelude_ = CallView{};
}

void CallFinder::begin(std::size_t open) {
  call_ = Call{};
  call_.open = open;
  call_.first = run_first_ != SIZE_MAX ? run_first_ : open;
  // Tasks stopped for good tell nothing more.
  board_.running.erase(std::remove_if(board_.running.begin(), board_.running.end(),
                                      [](const Running &r) { return !r.alive; }),
                       board_.running.end());
  view_ = std::move(prelude_);
  carried_ = -1;
  for (std::size_t k = board_.running.size(); k-- > 0 && carried_ < 0;)
    if (board_.running[k].alive && board_.running[k].family != nullptr)
      carried_ = static_cast<long>(k);
  if (carried_ >= 0)
    view_.family = board_.running[static_cast<std::size_t>(carried_)].family;
  view_.from = call_.first;
  text_.clear();
  written_ = read_ = 0;
  first_write_ = first_read_ = SIZE_MAX;
}

void CallFinder::take_inside(const Record &r, std::size_t i) {
  if (r.kind == Kind::dapl || r.kind == Kind::loader) {
    note(r, &view_);
  } else if (r.node == dapsession::kAccel1 && r.result > 0) {
    if (r.kind == Kind::write)
      written_ += static_cast<std::uint64_t>(r.result) * r.repeats;
    else if (r.kind == Kind::read)
      read_ += static_cast<std::uint64_t>(r.result) * r.repeats;
  }
  if (r.node == dapsession::kAccel1 && r.data_size > 0) {
    if (r.kind == Kind::write && first_write_ == SIZE_MAX)
      first_write_ = i;
    else if (r.kind == Kind::read && first_read_ == SIZE_MAX)
      first_read_ = i;
  }
  if (r.kind != Kind::write || r.node != dapsession::kAccel0)
    return;
  text_.append(r.data.begin(), r.data.end());
  std::size_t end;
  while ((end = text_.find_first_of("\r\n")) != std::string::npos) {
    line(text_.substr(0, end), i);
    text_.erase(0, end + 1);
  }
}

void CallFinder::note(const Record &r, CallView *view) {
  if (r.kind == Kind::dapl) {
    const std::string path(r.data.begin(), r.data.end());
    view->say("sends", path.substr(path.rfind('/') + 1));
  } else {
    view->say("runs the loader");
  }
}

void CallFinder::line(const std::string &text, std::size_t at) {
  const std::size_t from = view_.from;
  take_line(text, at, carried_, &board_, &view_);
  // Reads count from the call's own start on, once it has one.
  if (view_.from != from)
    first_read_ = SIZE_MAX;
}

void CallFinder::finish(std::size_t last) {
  call_.last = last;
  line(text_, last);
  // A program sent by bare name is known by what it defines.
  auto is = [](const char *key) { return [key](const auto &part) { return part.first == key; }; };
  if (std::any_of(view_.said.begin(), view_.said.end(), is("sends")))
    view_.said.erase(std::remove_if(view_.said.begin(), view_.said.end(), is("defines")),
                     view_.said.end());
  if (written_ > 0)
    view_.say("writes " + std::to_string(written_) + " bytes");
  if (read_ > 0)
    view_.say("reads " + std::to_string(read_) + " bytes");
  // Known only now: the view may change up to the call's last line.
  const Family *f = view_.family;
  call_.decodes = f != nullptr && ((!f->writes.empty() && first_write_ < view_.to) ||
                                   (!f->reads.empty() && first_read_ < view_.to));
}

} // namespace dapsession::tool
