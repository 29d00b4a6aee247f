// The subcommands of dapsession; each returns the exit status.
#pragma once

#include <string>

namespace dapsession::tool {

int show(const std::string &path, bool brief, bool raw);
int cut(const std::string &path, const std::string &range, const std::string &out);
int check(const std::string &path);

} // namespace dapsession::tool
