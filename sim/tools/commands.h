// The subcommands of dapsession; each returns the exit status.
#pragma once

#include <cstdint>
#include <string>

namespace dapsession::tool {

int show(const std::string &path, bool brief, bool raw);
int cut(const std::string &path, const std::string &range, const std::string &out);
int check(const std::string &path);

// check's exit status for a file read whole but without its end record.
inline constexpr int kUnfinished = 3;
// "unfinished: the recording ends after call N (tick T); B bytes after the
// last whole block dropped", and the call under way when there was one.
std::string unfinished_line(std::size_t calls, bool inside, std::int64_t tick,
                            std::uint64_t dropped);

} // namespace dapsession::tool
