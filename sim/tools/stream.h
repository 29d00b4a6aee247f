// A call's binary data decoded: the records of its family, printed as they
// complete, whatever the reads that carried them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "describe.h"
#include "families.h"

namespace dapsession::tool {

// Prints a stream's records as they complete; --brief keeps the first few of
// a call's stream and the start of long runs.
class Stream {
public:
  Stream(const std::vector<Part> &parts, bool brief) : parts_(parts), brief_(brief) { enter(0); }

  void feed(const std::vector<std::uint8_t> &data, std::uint64_t repeats) {
    // The recorder folds only calls without data; a repeated read from
    // elsewhere is decoded copy by copy, up to a bound.
    const std::uint64_t copies = std::min<std::uint64_t>(repeats, kMaxCopies);
    std::vector<std::string> lines;
    for (std::uint64_t c = 0; c < copies; ++c)
      take(data, &lines);
    // Identical records in a row are one line.
    for (std::size_t i = 0; i < lines.size();) {
      std::size_t j = i + 1;
      while (j < lines.size() && lines[j] == lines[i])
        ++j;
      print(j - i > 1 ? lines[i] + " x" + std::to_string(j - i) : lines[i]);
      i = j;
    }
    if (copies < repeats)
      print("(" + std::to_string(repeats - copies) + " more copies not decoded)");
  }

  // The bytes left over: part of a record, or more than the layout holds.
  void finish(const char *what) {
    if (hidden_ > 0)
      std::printf("    ... %zu more records %s\n", hidden_, what);
    pending_.insert(pending_.end(), surplus_.begin(), surplus_.end());
    if (!pending_.empty())
      std::printf("    %zu bytes %s past the last whole record: %s\n", pending_.size(), what,
                  hex(pending_, brief_ ? 32 : SIZE_MAX).c_str());
  }

private:
  static constexpr std::uint64_t kMaxCopies = 4096;
  static constexpr std::size_t kBriefRecords = 8;
  static constexpr int kBriefValues = 24;

  void enter(std::size_t part) {
    part_ = part;
    done_ = 0;
    size_ = 0;
    if (part_ < parts_.size()) {
      fields_ = parse_fields(parts_[part_].fields);
      for (const Field &f : fields_)
        size_ += f.bytes();
    }
  }

  void take(const std::vector<std::uint8_t> &data, std::vector<std::string> *lines) {
    std::size_t at = 0;
    while (at < data.size()) {
      if (part_ >= parts_.size()) {
        surplus_.insert(surplus_.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.end());
        return;
      }
      const std::size_t n = std::min(size_ - pending_.size(), data.size() - at);
      pending_.insert(pending_.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + n));
      at += n;
      if (pending_.size() < size_)
        return;
      lines->push_back(record_line());
      pending_.clear();
      if (++done_ == parts_[part_].count)
        enter(part_ + 1);
    }
  }

  std::string record_line() const {
    const Part &part = parts_[part_];
    std::string line = part.name;
    if (part.index != nullptr)
      line += " " + std::string(part.index) + "=" + std::to_string(done_ + 1);
    const std::uint8_t *p = pending_.data();
    for (const Field &f : fields_) {
      line += " " + f.name + "=";
      for (int k = 0; k < f.count; ++k, p += f.type == 'u' ? 4 : 2) {
        if (brief_ && k == kBriefValues) {
          line += ",...";
          p += (f.count - k) * (f.type == 'u' ? 4 : 2);
          break;
        }
        const unsigned word = p[0] | (p[1] << 8);
        char value[16];
        if (f.type == 'u')
          std::snprintf(value, sizeof value, "%lu",
                        static_cast<unsigned long>(word) |
                            (static_cast<unsigned long>(p[2] | (p[3] << 8)) << 16));
        else if (f.type == 'x')
          std::snprintf(value, sizeof value, "0x%04x", word);
        else
          std::snprintf(value, sizeof value, "%d",
                        word >= 0x8000 ? static_cast<int>(word) - 0x10000 : static_cast<int>(word));
        line += (k == 0 ? "" : ",") + std::string(value);
      }
    }
    return line;
  }

  void print(const std::string &line) {
    if (brief_ && shown_ >= kBriefRecords) {
      ++hidden_;
      return;
    }
    ++shown_;
    std::printf("    %s\n", line.c_str());
  }

  const std::vector<Part> &parts_;
  const bool brief_;
  std::size_t part_ = 0;
  int done_ = 0; // records of the current part so far
  std::vector<Field> fields_;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> pending_; // a record not yet complete
  std::vector<std::uint8_t> surplus_; // bytes past the layout's end
  std::size_t shown_ = 0, hidden_ = 0;
};

} // namespace dapsession::tool
