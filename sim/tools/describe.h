// A record in words, as `dapsession show` prints it: the call and its
// outcome, its data as quoted text (accel0) or hex and 16-bit words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "session.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

std::string quoted(const std::vector<std::uint8_t> &bytes, std::size_t limit);
// The appenders build the lines of a big file's records without a string of
// their own for every piece.
void put_number(std::string *out, long long v);
// `total`: the bytes there are, of which `bytes` may hold only the first.
void put_hex(std::string *out, const std::vector<std::uint8_t> &bytes, std::size_t limit,
             std::uint64_t total);
std::string hex(const std::vector<std::uint8_t> &bytes, std::size_t limit);
void put_words(std::string *out, const std::vector<std::uint8_t> &bytes, std::size_t limit,
               std::uint64_t total);
// The words of a stimulus table that go to one output: the table
// interleaves a0 and a1 (phase 0 and 1).
std::string output_words(const std::vector<std::uint8_t> &bytes, std::size_t limit, int phase);

// A stimulus table of 602 entries (PairOut, WaveOut, WaveData).
inline constexpr std::size_t kTableBytes = 1204;

// The record in words, appended to *out. `with_data` false: the data is
// shown after the line, decoded.
void describe(std::string *out, const Record &r, std::size_t limit, bool with_data);
std::string describe(const Record &r, std::size_t limit, bool with_data);
// Whether two polls read alike in a run: the same fields give the same
// words (tested first, as it is the common case); else the words decide.
bool same_words(const Record &a, const Record &b);

} // namespace dapsession::tool
