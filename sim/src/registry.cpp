#include "registry.h"

#include <map>

#include "text.h"

namespace dapsim {
namespace {

// Behaviours register from static initialisers in other files of this
// library, in an order we do not control: the map must exist on first use.
std::map<std::string, TaskFactory> &registry() {
  static auto *tasks = new std::map<std::string, TaskFactory>();
  return *tasks;
}

} // namespace

void register_task(const std::string &name, TaskFactory factory) {
  registry()[text::lower(name)] = std::move(factory);
}

const TaskFactory *find_task_factory(const std::string &name) {
  const auto it = registry().find(text::lower(name));
  return it == registry().end() ? nullptr : &it->second;
}

} // namespace dapsim
