// Records held while `show` waits for the close that says what their call
// did.
#pragma once

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "session.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

// Records held for a while: consecutive ones, in the order they came, with
// as much of their data as they were read with, packed into pieces of 2 MiB
// taken from the system (as huge pages where it gives them: a page fault a
// piece, not one every 4 KiB) and used again for the next ones once drained.
class Held {
public:
  Held() = default;
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  ~Held() { release(); }

  std::size_t bytes() const { return piece_ * kPiece + used_; }

  // Record `index`: the one after the last held, or the first.
  void add(std::size_t index, const Record &r) {
    const std::size_t data = std::min(r.data.size(), kPiece - sizeof(Entry));
    const std::size_t size = (sizeof(Entry) + data + 7) & ~std::size_t{7};
    if (pieces_.empty() || used_ + size > kPiece) {
      if (!pieces_.empty())
        ends_[piece_++] = used_;
      used_ = 0;
      if (piece_ == pieces_.size()) {
        void *piece = std::aligned_alloc(kPiece, kPiece);
        if (piece == nullptr)
          throw std::bad_alloc();
        ::madvise(piece, kPiece, MADV_HUGEPAGE);
        pieces_.push_back(piece);
        ends_.push_back(0);
      }
    }
    if (count_ == 0)
      first_ = index;
    Entry e{};
    e.tick = r.tick;
    e.repeats = r.repeats;
    e.offset = r.offset;
    e.result = static_cast<std::int32_t>(r.result);
    e.asked = r.asked;
    e.value = r.value;
    e.data_size = static_cast<std::uint32_t>(r.data_size);
    e.data = static_cast<std::uint32_t>(data);
    e.error = static_cast<std::uint16_t>(r.error);
    e.kind = r.kind;
    e.node = r.node;
    auto *at = static_cast<std::uint8_t *>(pieces_[piece_]) + used_;
    std::memcpy(at, &e, sizeof e);
    if (data > 0)
      std::memcpy(at + sizeof e, r.data.data(), data);
    used_ += size;
    ++count_;
  }

  // Gives each record and its index, in order, to `take` (false stops it);
  // then holds none.
  template <typename Take> bool drain(Take take) {
    Record r;
    std::size_t done = 0;
    for (std::size_t p = 0; p <= piece_ && done < count_; ++p) {
      const std::size_t end = p == piece_ ? used_ : ends_[p];
      for (std::size_t at = 0; done < count_ && at < end;) {
        const auto *bytes = static_cast<const std::uint8_t *>(pieces_[p]) + at;
        Entry e;
        std::memcpy(&e, bytes, sizeof e);
        const std::size_t size = (sizeof(Entry) + e.data + 7) & ~std::size_t{7};
        r.kind = e.kind;
        r.node = e.node;
        r.error = e.error;
        r.tick = e.tick;
        r.result = e.result;
        r.asked = e.asked;
        r.value = e.value;
        r.repeats = e.repeats;
        r.data.assign(bytes + sizeof e, bytes + sizeof e + e.data);
        r.data_size = e.data_size;
        r.offset = e.offset;
        if (!take(r, first_ + done))
          return false;
        at += size;
        ++done;
      }
    }
    clear();
    return true;
  }

  // Gives the memory back (once too much has been held).
  void release() {
    for (void *piece : pieces_)
      std::free(piece);
    pieces_.clear();
    ends_.clear();
    clear();
  }

private:
  void clear() { piece_ = used_ = count_ = 0; }

  static constexpr std::size_t kPiece = std::size_t{2} << 20;
  // A record as the file has it (results of 32 bits, errno of 16, data of
  // less than a block), then `data` bytes of its data.
  struct Entry {
    std::int64_t tick;
    std::uint64_t repeats, offset;
    std::int32_t result;
    std::uint32_t asked;
    std::int32_t value;
    std::uint32_t data_size, data;
    std::uint16_t error;
    Kind kind;
    std::uint8_t node;
  };
  std::vector<void *> pieces_;
  std::vector<std::size_t> ends_; // the bytes used in each full piece
  std::size_t piece_ = 0, used_ = 0, count_ = 0;
  std::size_t first_ = 0; // the first record's index
};

} // namespace dapsession::tool
