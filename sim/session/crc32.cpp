// CRC-32 of session files (the common reflected one, 0xEDB88320).
//
// A big session is checked whole before it is replayed or shown, so the sum
// must cost less than reading the file. On x86-64 with carry-less multiply,
// the bytes are folded 64 at a time into four 128-bit lanes, which are then
// folded into one and reduced to 32 bits (Barrett); the constants are powers
// of x modulo the polynomial, bit-reflected. Elsewhere zlib's sum is used
// when there is one, else slicing by eight tables. All give the same sums.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "format.h"

#ifdef DAP_HAVE_ZLIB
#include <zlib.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DAP_CRC_FOLDING 1
#endif

namespace dapsession {
namespace {

constexpr auto kCrcTables = [] {
  std::array<std::array<std::uint32_t, 256>, 8> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t i = 0; i < 256; ++i)
    for (std::size_t k = 1; k < 8; ++k)
      t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}();

std::uint32_t load_u32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t crc32_tables(const std::uint8_t *p, std::size_t count, std::uint32_t crc) {
  const auto &t = kCrcTables;
  crc = ~crc;
  while (count >= 8) {
    const std::uint32_t lo = crc ^ load_u32(p);
    const std::uint32_t hi = load_u32(p + 4);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    count -= 8;
  }
  while (count-- > 0)
    crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// The sum without folding: zlib's (about three times the tables' speed) or
// the tables'.
std::uint32_t crc32_bytewise(const std::uint8_t *p, std::size_t count, std::uint32_t crc) {
#ifdef DAP_HAVE_ZLIB
  while (count > 0) {
    const auto n = static_cast<uInt>(std::min<std::size_t>(count, 1u << 30));
    crc = static_cast<std::uint32_t>(::crc32(crc, p, n));
    p += n;
    count -= n;
  }
  return crc;
#else
  return crc32_tables(p, count, crc);
#endif
}

#ifdef DAP_CRC_FOLDING
#define DAP_FOLDING __attribute__((target("pclmul,sse4.1")))

DAP_FOLDING inline __m128i load(const std::uint8_t *at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// `lane` moved forward by the distance `k` stands for, plus `next`.
DAP_FOLDING inline __m128i forward(__m128i lane, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)),
      next);
}

// Four lanes of 128 bits that run on into the `count` bytes at `p` (a
// multiple of 16), reduced to the register's 32 bits.
DAP_FOLDING std::uint32_t reduce(__m128i a, __m128i b, __m128i c, __m128i d, const std::uint8_t *p,
                                 std::size_t count) {
  // x^(128+32), x^(128-32): one lane forward by 128 bits.
  alignas(16) static const std::uint64_t k_one[] = {0x01751997d0, 0x00ccaa009e};
  // x^64: 96 bits down to 64.
  alignas(16) static const std::uint64_t k_64[] = {0x0163cd6124, 0};
  // The polynomial and its Barrett constant floor(x^64 / P).
  alignas(16) static const std::uint64_t k_poly[] = {0x01db710641, 0x01f7011641};
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(k_one));
  a = forward(a, k, b);
  a = forward(a, k, c);
  a = forward(a, k, d);
  for (; count >= 16; p += 16, count -= 16)
    a = forward(a, k, load(p));
  // 128 bits to 64.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  a = _mm_xor_si128(_mm_srli_si128(a, 8), _mm_clmulepi64_si128(a, k, 0x10));
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(k_64));
  a = _mm_xor_si128(_mm_srli_si128(a, 4), _mm_clmulepi64_si128(_mm_and_si128(a, low32), k, 0x00));
  // Barrett reduction to 32 bits.
  k = _mm_load_si128(reinterpret_cast<const __m128i *>(k_poly));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(a, low32), k, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), k, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(a, t), 1));
}

// x^(4*128+32), x^(4*128-32): four lanes forward by 512 bits.
alignas(16) const std::uint64_t k_four[] = {0x0154442bd4, 0x01c6e41596};

// `count` is at least 64 and a multiple of 16; `state` is the register as
// it runs (the sum inverted), and so is the result.
DAP_FOLDING std::uint32_t fold(const std::uint8_t *p, std::size_t count, std::uint32_t state) {
  __m128i a = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i b = load(p + 16), c = load(p + 32), d = load(p + 48);
  p += 64;
  count -= 64;
  const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(k_four));
  for (; count >= 64; p += 64, count -= 64) {
    a = forward(a, k, load(p));
    b = forward(b, k, load(p + 16));
    c = forward(c, k, load(p + 32));
    d = forward(d, k, load(p + 48));
  }
  return reduce(a, b, c, d, p, count);
}

#define DAP_FOLDING_WIDE __attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq")))

// 256 bytes at a time (count at least 256): four 512-bit lanes, each four
// 128-bit lanes folded at once; then as fold() ends. Returns what fold()
// would, for the bytes up to the last whole 16.
DAP_FOLDING_WIDE std::uint32_t fold_wide(const std::uint8_t *p, std::size_t count,
                                         std::uint32_t state) {
  // x^(16*128+32), x^(16*128-32): each 128 bits forward by 2048; and
  // x^(4*128+32), x^(4*128-32), for each of four lanes in a row.
  alignas(64) static const std::uint64_t k_sixteen[] = {0x011542778a, 0x01322d1430, 0x011542778a,
                                                        0x01322d1430, 0x011542778a, 0x01322d1430,
                                                        0x011542778a, 0x01322d1430};
  alignas(64) static const std::uint64_t k_four_wide[] = {0x0154442bd4, 0x01c6e41596, 0x0154442bd4,
                                                          0x01c6e41596, 0x0154442bd4, 0x01c6e41596,
                                                          0x0154442bd4, 0x01c6e41596};
  const __m512i k16 = _mm512_load_si512(k_sixteen);
  const __m512i k4 = _mm512_load_si512(k_four_wide);
  __m512i lane[4];
  for (int j = 0; j < 4; ++j)
    lane[j] = _mm512_loadu_si512(p + 64 * j);
  lane[0] = _mm512_xor_si512(lane[0], _mm512_maskz_set1_epi32(1, static_cast<int>(state)));
  p += 256;
  count -= 256;
  for (; count >= 256; p += 256, count -= 256)
    for (int j = 0; j < 4; ++j)
      lane[j] = _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lane[j], k16, 0x00),
                                          _mm512_clmulepi64_epi128(lane[j], k16, 0x11),
                                          _mm512_loadu_si512(p + 64 * j), 0x96);
  __m512i x = lane[0];
  for (int j = 1; j < 4; ++j)
    x = _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k4, 0x00),
                                  _mm512_clmulepi64_epi128(x, k4, 0x11), lane[j], 0x96);
  // Four 128-bit lanes in a row, as fold() has them after its loop.
  alignas(64) std::uint8_t lanes[64];
  _mm512_store_si512(lanes, x);
  return reduce(load(lanes), load(lanes + 16), load(lanes + 32), load(lanes + 48), p, count);
}

bool can_fold() {
  // Called from a preloaded library's constructors too, before the C
  // library's own set-up may have run.
  static const bool can = (__builtin_cpu_init(), true) && __builtin_cpu_supports("pclmul") &&
                          __builtin_cpu_supports("sse4.1");
  return can;
}

bool can_fold_wide() {
  static const bool can =
      can_fold() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
  return can;
}
#endif

} // namespace

namespace {

// `wide`: the 512-bit form where the processor has it.
std::uint32_t crc32_using(const void *bytes, std::size_t count, std::uint32_t crc, bool wide) {
  const auto *p = static_cast<const std::uint8_t *>(bytes);
#ifdef DAP_CRC_FOLDING
  if (count >= 64 && can_fold()) {
    const std::size_t folded = count & ~std::size_t{15};
    crc = ~(wide && folded >= 256 && can_fold_wide() ? fold_wide(p, folded, ~crc)
                                                     : fold(p, folded, ~crc));
    p += folded;
    count -= folded;
  }
#else
  (void)wide;
#endif
  return crc32_bytewise(p, count, crc);
}

} // namespace

std::uint32_t crc32(const void *bytes, std::size_t count, std::uint32_t crc) {
  return crc32_using(bytes, count, crc, true);
}

namespace testing {
std::uint32_t crc32_reference(const void *bytes, std::size_t count, std::uint32_t crc) {
  return crc32_tables(static_cast<const std::uint8_t *>(bytes), count, crc);
}
std::uint32_t crc32_narrow(const void *bytes, std::size_t count, std::uint32_t crc) {
  return crc32_using(bytes, count, crc, false);
}
} // namespace testing

} // namespace dapsession
