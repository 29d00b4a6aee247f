#pragma once

#include <string>

#include "dapsim/board.h"

namespace dapsim {

// The factory registered for a task name, or nullptr.
const TaskFactory *find_task_factory(const std::string &name);

} // namespace dapsim
