// The rig's paths as stat() and access() find them: the two device nodes
// (character devices with an owner and a mode), the DAPL directory and its
// programs, the board loader. A scenario can make each of them wrong in the
// ways a rig check names: a node missing, not a device or not this user's to
// open; the DAPL directory or one of its programs missing, or a program that
// is no file.
//
// Its own lock, never the model's: paths are looked at from any thread, and
// from inside the model's own calls.
#pragma once

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "text.h"

namespace dapsim {

// What the path of a device node holds.
enum class NodeEntry { device, missing, file, folder, denied };

// A path as the rig knows it.
struct RigPath {
  enum class Kind { none, node, dapl, loader };
  Kind kind = Kind::none;
  int node = -1;
  // The file that serves it here, faults applied: for the DAPL directory,
  // the file of the served folder; for the loader, its stand-in.
  std::string served;
};

class RigFiles {
public:
  // Every node a character device this user may open, the DAPL directory
  // and all its programs there.
  void power_on();

  // What an absolute path is to the rig (for the loader, without `served`).
  RigPath classify(const char *path) const;
  // Where the loader's path leads: the stand-in, or where nothing is.
  static std::string served_loader(bool missing);
  // The file that serves `relative` ("" or "/name") of the DAPL directory.
  std::string served_dapl(const std::string &relative) const;

  // stat() of a device node: 0 with *status filled, or an errno.
  int stat_node(int node, struct stat *status) const;
  // access() of a device node with `how` (F_OK, or R_OK|W_OK|X_OK bits).
  int access_node(int node, int how) const;

  // What an open of the node fails with, so that opens agree with what
  // stat finds (nullopt: it opens).
  std::optional<int> open_error(int node) const;

  // Control commands "node ..." and "dapl ...".
  bool control(const std::vector<text::Token> &t, std::string *reply);

private:
  std::string describe_nodes() const;
  std::string describe_dapl() const;

  mutable std::mutex mutex_;
  NodeEntry nodes_[2] = {NodeEntry::device, NodeEntry::device};
  bool dapl_missing_ = false;
  // Programs of the DAPL directory made wrong: true = missing, false = a
  // folder in the file's place.
  std::map<std::string, bool> programs_;
};

RigFiles &rig_files();

} // namespace dapsim
