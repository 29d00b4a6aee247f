#include "block_cache.h"

namespace dapsession {

std::shared_ptr<const std::vector<std::uint8_t>> BlockCache::find(std::uint64_t at,
                                                                  std::uint32_t sequence) const {
  for (const Entry &e : entries_)
    if (e.block != nullptr && e.at == at && e.sequence == sequence)
      return e.block;
  return nullptr;
}

std::shared_ptr<std::vector<std::uint8_t>> BlockCache::fresh() {
  if (spare_ != nullptr)
    return std::move(spare_);
  return std::make_shared<std::vector<std::uint8_t>>();
}

void BlockCache::add(std::uint64_t at, std::uint32_t sequence,
                     std::shared_ptr<std::vector<std::uint8_t>> block) {
  Entry &e = entries_[next_];
  if (e.block != nullptr && e.block.use_count() == 1)
    spare_ = std::move(e.block);
  e = Entry{at, sequence, std::move(block)};
  next_ = (next_ + 1) % entries_.size();
}

} // namespace dapsession
