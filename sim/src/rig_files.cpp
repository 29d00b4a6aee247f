#include "rig_files.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "device_nodes.h"
#include "loader.h"
#include "session.h"
#include "simulator.h"

namespace dapsim {
namespace {

// The rig's driver registers its nodes under a major number of its own.
constexpr unsigned kDriverMajor = 240;
// The group a node this user may not open belongs to: one this user is
// seldom in ("nogroup"), as the driver's own group is not.
constexpr gid_t kForeignGroup = 65534;
// Where nothing is: a path under the served folder that no one makes.
constexpr char kNowhere[] = "/.dapsim-nothing-here";

// When the nodes appeared: when the board powered on for the first time.
const struct timespec &made_at() {
  static const struct timespec when = [] {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
  }();
  return when;
}

} // namespace

RigFiles &rig_files() {
  // Never destroyed: the host may look at paths from its exit handlers.
  static RigFiles *files = new RigFiles();
  return *files;
}

void RigFiles::power_on() {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_[kTextNode] = nodes_[kBinaryNode] = NodeEntry::device;
  dapl_missing_ = false;
  programs_.clear();
  made_at();
}

std::string RigFiles::served_loader(bool missing) {
  return loader_folder() + (missing ? kNowhere : "/dapsim-loader");
}

RigPath RigFiles::classify(const char *path) const {
  RigPath rig;
  const dapsession::PathClass c = dapsession::classify_path(path);
  if (c.node != dapsession::kNoNode) {
    rig.kind = RigPath::Kind::node;
    rig.node = c.node == dapsession::kAccel0 ? kTextNode : kBinaryNode;
  } else if (c.dapl) {
    rig.kind = RigPath::Kind::dapl;
    rig.served = served_dapl(c.in_directory);
  } else if (path != nullptr && path[0] == '/' &&
             dapsession::normalize_path(path) == kLoaderCommand) {
    rig.kind = RigPath::Kind::loader;
  }
  return rig;
}

std::string RigFiles::served_dapl(const std::string &relative) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (dapl_missing_)
    return dapl_folder() + kNowhere + relative;
  if (relative.size() > 1) {
    const auto it = programs_.find(relative.substr(1));
    if (it != programs_.end())
      // A folder stands in the place of a program that is no file.
      return it->second ? dapl_folder() + kNowhere + relative : dapl_folder();
  }
  return dapl_folder() + relative;
}

int RigFiles::stat_node(int node, struct stat *status) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const NodeEntry entry = nodes_[node];
  if (entry == NodeEntry::missing)
    return ENOENT;
  std::memset(status, 0, sizeof *status);
  status->st_dev = makedev(0, 5);
  status->st_ino = 1000 + static_cast<ino_t>(node);
  status->st_nlink = entry == NodeEntry::folder ? 2 : 1;
  status->st_uid = geteuid();
  status->st_gid = getegid();
  status->st_blksize = 4096;
  status->st_atim = status->st_mtim = status->st_ctim = made_at();
  switch (entry) {
  case NodeEntry::device:
    status->st_mode = S_IFCHR | 0660;
    status->st_rdev = makedev(kDriverMajor, static_cast<unsigned>(node));
    break;
  case NodeEntry::denied:
    status->st_mode = S_IFCHR | 0660;
    status->st_rdev = makedev(kDriverMajor, static_cast<unsigned>(node));
    status->st_uid = 0;
    status->st_gid = kForeignGroup;
    break;
  case NodeEntry::file:
    // What a program that wrote to the path with no driver loaded left.
    status->st_mode = S_IFREG | 0644;
    status->st_size = 15;
    status->st_blocks = 8;
    break;
  case NodeEntry::folder:
    status->st_mode = S_IFDIR | 0755;
    status->st_size = 4096;
    status->st_blocks = 8;
    break;
  case NodeEntry::missing:
    break;
  }
  return 0;
}

int RigFiles::access_node(int node, int how) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const NodeEntry entry = nodes_[node];
  if (entry == NodeEntry::missing)
    return ENOENT;
  if (how == F_OK)
    return 0;
  if (entry == NodeEntry::denied && (how & (R_OK | W_OK)) != 0)
    return EACCES;
  // Neither a device nor the file in its place may be run; a folder may be
  // searched.
  if ((how & X_OK) != 0 && entry != NodeEntry::folder)
    return EACCES;
  return 0;
}

std::optional<int> RigFiles::open_error(int node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  switch (nodes_[node]) {
  case NodeEntry::missing:
    return ENOENT;
  case NodeEntry::folder:
    return EISDIR;
  case NodeEntry::denied:
    return EACCES;
  default:
    return std::nullopt;
  }
}

bool RigFiles::control(const std::vector<text::Token> &t, std::string *reply) {
  const std::string verb = text::lower(t[0].text);
  const std::size_t n = t.size();
  auto refuse = [&](const std::string &message) {
    *reply = message;
    return false;
  };
  std::lock_guard<std::mutex> lock(mutex_);
  if (verb == "node") {
    if (n == 1) {
      *reply = describe_nodes();
      return true;
    }
    const std::string which = n == 3 ? text::lower(t[1].text) : std::string();
    const std::string what = n == 3 ? text::lower(t[2].text) : std::string();
    const int chosen = which == "accel0" || which == "text"                       ? kTextNode
                       : which == "accel1" || which == "binary" || which == "bin" ? kBinaryNode
                                                                                  : -1;
    static const std::map<std::string, NodeEntry> entries = {{"device", NodeEntry::device},
                                                             {"missing", NodeEntry::missing},
                                                             {"file", NodeEntry::file},
                                                             {"folder", NodeEntry::folder},
                                                             {"denied", NodeEntry::denied}};
    const auto it = entries.find(what);
    if (chosen < 0 || it == entries.end())
      return refuse("usage: node | node accel0|accel1 device|missing|file|folder|denied");
    nodes_[chosen] = it->second;
    reply->clear();
    return true;
  }
  // dapl | dapl missing [NAME] | dapl notfile NAME | dapl clear
  if (n == 1) {
    *reply = describe_dapl();
    return true;
  }
  const std::string what = text::lower(t[1].text);
  if (what == "clear" && n == 2) {
    dapl_missing_ = false;
    programs_.clear();
  } else if (what == "missing" && n == 2) {
    dapl_missing_ = true;
  } else if ((what == "missing" || what == "notfile") && n == 3 && !t[2].text.empty() &&
             t[2].text.find('/') == std::string::npos) {
    programs_[t[2].text] = what == "missing";
  } else {
    return refuse("usage: dapl | dapl missing [NAME] | dapl notfile NAME | dapl clear");
  }
  reply->clear();
  return true;
}

std::string RigFiles::describe_nodes() const {
  static const char *const names[] = {"device", "missing", "file", "folder", "denied"};
  return std::string("accel0 ") + names[static_cast<int>(nodes_[kTextNode])] + ", accel1 " +
         names[static_cast<int>(nodes_[kBinaryNode])];
}

std::string RigFiles::describe_dapl() const {
  std::string out = dapl_missing_ ? "directory missing" : "directory there";
  for (const auto &[name, missing] : programs_)
    out += std::string(", ") + name + (missing ? " missing" : " notfile");
  return out;
}

} // namespace dapsim
