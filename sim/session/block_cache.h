// The last few blocks read by the readers of one file that share them:
// readers that go through the file together (a replay's queues) read it
// once. For readers of a file already checked whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace dapsession {

class BlockCache {
public:
  std::shared_ptr<const std::vector<std::uint8_t>> find(std::uint64_t at,
                                                        std::uint32_t sequence) const;
  // Where to read a block: the memory of one no reader holds any more, when
  // there is one.
  std::shared_ptr<std::vector<std::uint8_t>> fresh();
  void add(std::uint64_t at, std::uint32_t sequence,
           std::shared_ptr<std::vector<std::uint8_t>> block);

private:
  struct Entry {
    std::uint64_t at = 0;
    std::uint32_t sequence = 0;
    std::shared_ptr<std::vector<std::uint8_t>> block;
  };
  std::array<Entry, 4> entries_;
  std::size_t next_ = 0;
  std::shared_ptr<std::vector<std::uint8_t>> spare_;
};

} // namespace dapsession
