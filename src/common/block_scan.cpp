#include "common/block_scan.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace murmela {

namespace {

// Bytes that end a run of plain string text.
constexpr std::array<bool, 256> kStringSpecial = [] {
  std::array<bool, 256> special{};
  for (int c = 0; c < 0x20; ++c) special[c] = true;
  special['"'] = special['\\'] = true;
  return special;
}();

// Eight bytes in a machine word: whether any is special, by the classic
// "has a zero byte" trick (a false alarm only sends the scan byte-wise).
std::size_t find_special_portable(std::string_view text, std::size_t pos) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
  for (;;) {
    std::uint64_t word;
    while (pos + 8 <= text.size()) {
      std::memcpy(&word, text.data() + pos, 8);
      const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHigh;
      if ((below_space | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\'))) != 0)
        break;
      pos += 8;
    }
    const std::size_t stop = std::min(pos + 8, text.size());
    for (; pos < stop; ++pos) {
      if (kStringSpecial[static_cast<unsigned char>(text[pos])]) return pos;
    }
    if (pos == text.size()) return pos;
  }
}

std::size_t valid_utf8_prefix_portable(std::string_view bytes) {
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  std::size_t pos = 0;
  std::uint64_t word;
  while (pos + 8 <= bytes.size() &&
         (std::memcpy(&word, bytes.data() + pos, 8), (word & kHigh) == 0))
    pos += 8;
  return pos;
}

#if defined(__x86_64__)

// The vector scans' helpers (other machines use only the portable scans).

std::size_t find_special_bytewise(std::string_view text, std::size_t pos) {
  while (pos < text.size() && !kStringSpecial[static_cast<unsigned char>(text[pos])]) ++pos;
  return pos;
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where the character that holds the byte before `end` starts: a block scan
// that stops at `end` may have cut it, so the byte-wise check redoes it. A
// valid prefix has at most three continuation bytes in a row.
std::size_t last_character_start(std::string_view bytes, std::size_t end) {
  for (std::size_t back = 1; back <= 4 && back <= end; ++back) {
    if (!is_continuation(bytes[end - back])) return end - back;
  }
  return 0;
}

// SSE2: sixteen bytes per step.
std::size_t find_special_sse2(std::string_view text, std::size_t pos) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  while (pos + 16 <= text.size()) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(block, last_control), last_control);
    const __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)), control);
    if (const int mask = _mm_movemask_epi8(special); mask != 0)
      return pos + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    pos += 16;
  }
  return find_special_bytewise(text, pos);
}

// Runs of ASCII, sixteen bytes per step; the rest is checked byte-wise.
std::size_t valid_utf8_prefix_sse2(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos + 16 <= bytes.size() &&
         _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + pos))) ==
             0)
    pos += 16;
  return pos;
}

#define MURMELA_AVX2 __attribute__((target("avx2")))

MURMELA_AVX2 __m256i load32(const char* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

MURMELA_AVX2 std::size_t find_special_avx2(std::string_view text, std::size_t pos) {
  const __m256i quote = _mm256_set1_epi8('"');
  const __m256i backslash = _mm256_set1_epi8('\\');
  const __m256i last_control = _mm256_set1_epi8(0x1F);
  while (pos + 32 <= text.size()) {
    const __m256i block = load32(text.data() + pos);
    const __m256i control = _mm256_cmpeq_epi8(_mm256_max_epu8(block, last_control), last_control);
    const __m256i special = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(block, quote), _mm256_cmpeq_epi8(block, backslash)),
        control);
    if (const int mask = _mm256_movemask_epi8(special); mask != 0)
      return pos + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    pos += 32;
  }
  return find_special_sse2(text, pos);
}

// UTF-8 checked 64 bytes per step with nibble lookups (Keiser and Lemire,
// "Validating UTF-8 in less than one instruction per byte"): every pair of
// neighbouring bytes is classified by three 16-entry tables whose bits name
// the faults that pair may show; a fault is a bit that all three agree on.
// Third and fourth bytes of a sequence are told apart from stray
// continuation bytes by looking two and three bytes back.
namespace utf8_lookup {

constexpr std::uint8_t kTooShort = 1 << 0;   // a lead byte not followed by a continuation
constexpr std::uint8_t kTooLong = 1 << 1;    // a continuation after ASCII
constexpr std::uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t kTooLarge = 1 << 3;   // above U+10FFFF
constexpr std::uint8_t kSurrogate = 1 << 4;  // ED A0..BF
constexpr std::uint8_t kOverlong2 = 1 << 5;  // C0, C1
constexpr std::uint8_t kTooLarge1000 = 1 << 6;
constexpr std::uint8_t kOverlong4 = 1 << 6;  // F0 80..8F
constexpr std::uint8_t kTwoContinuations = 1 << 7;
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoContinuations;

// clang-format off
// By the first byte's high nibble.
constexpr std::uint8_t kFirstHigh[16] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,  // ASCII
    kTwoContinuations, kTwoContinuations, kTwoContinuations, kTwoContinuations,      // 10xx
    kTooShort | kOverlong2,                                                          // C0-CF
    kTooShort,                                                                       // D0-DF
    kTooShort | kOverlong3 | kSurrogate,                                             // E0-EF
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};                             // F0-FF
// By the first byte's low nibble.
constexpr std::uint8_t kFirstLow[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,      // x0
    kCarry | kOverlong2,                                // x1
    kCarry, kCarry,                                     // x2, x3
    kCarry | kTooLarge,                                 // x4
    kCarry | kTooLarge | kTooLarge1000,                 // x5
    kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,                 // xC
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,    // xD
    kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000};
// By the second byte's high nibble.
constexpr std::uint8_t kSecondHigh[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge1000 | kOverlong4,  // 80-8F
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge,                   // 90-9F
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,                   // A0-AF
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,                   // B0-BF
    kTooShort, kTooShort, kTooShort, kTooShort};
// clang-format on

MURMELA_AVX2 __m256i table(const std::uint8_t (&entries)[16]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

MURMELA_AVX2 __m256i high_nibbles(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

struct Tables {
  __m256i first_high, first_low, second_high;
};

// The faults of the 32 bytes at `at`, whose three bytes before are readable.
MURMELA_AVX2 __m256i faults(const Tables& tables, const char* at) {
  const __m256i low_nibble_mask = _mm256_set1_epi8(0x0F);
  const __m256i block = load32(at);
  const __m256i prev1 = load32(at - 1);
  const __m256i pair_faults = _mm256_and_si256(
      _mm256_and_si256(
          _mm256_shuffle_epi8(tables.first_high, high_nibbles(prev1)),
          _mm256_shuffle_epi8(tables.first_low, _mm256_and_si256(prev1, low_nibble_mask))),
      _mm256_shuffle_epi8(tables.second_high, high_nibbles(block)));
  // 0x80 where a third or fourth byte of a sequence must stand.
  const __m256i third = _mm256_subs_epu8(load32(at - 2), _mm256_set1_epi8(0x60));
  const __m256i fourth = _mm256_subs_epu8(load32(at - 3), _mm256_set1_epi8(0x70));
  const __m256i must_continue =
      _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(must_continue, pair_faults);
}

// Non-zero when the block ends inside a sequence (in its last three bytes).
MURMELA_AVX2 __m256i ends_inside_sequence(__m256i block) {
  const __m256i limits =
      _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                       static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  return _mm256_subs_epu8(block, limits);
}

}  // namespace utf8_lookup

MURMELA_AVX2 std::size_t valid_utf8_prefix_avx2(std::string_view bytes) {
  using namespace utf8_lookup;
  if (bytes.size() < 64) return 0;
  const Tables tables{table(kFirstHigh), table(kFirstLow), table(kSecondHigh)};
  // The first step looks three bytes before the text, which count as ASCII.
  char first[3 + 64] = {};
  std::memcpy(first + 3, bytes.data(), 64);
  __m256i open_sequence = _mm256_setzero_si256();
  std::size_t pos = 0;
  while (pos + 64 <= bytes.size()) {
    const char* at = pos == 0 ? first + 3 : bytes.data() + pos;
    const __m256i second = load32(at + 32);
    __m256i fault;
    if (_mm256_movemask_epi8(_mm256_or_si256(load32(at), second)) == 0) {
      fault = open_sequence;  // ASCII right after a cut sequence
    } else {
      fault = _mm256_or_si256(faults(tables, at), faults(tables, at + 32));
      open_sequence = ends_inside_sequence(second);
    }
    if (!_mm256_testz_si256(fault, fault)) break;
    pos += 64;
  }
  return last_character_start(bytes, pos);
}

#undef MURMELA_AVX2

// Asked of the processor itself (CPUID) rather than through the compiler's
// runtime, which not every toolchain links: AVX2 needs both the instructions
// and a system that saves the YMM registers on a switch (XGETBV).
bool has_avx2() {
  static const bool avx2 = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));  // the registers the system saves
    const std::uint64_t saved = (std::uint64_t{high} << 32) | low;
    constexpr std::uint64_t kXmmAndYmm = 0b110;
    if ((saved & kXmmAndYmm) != kXmmAndYmm) return false;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    return (ebx & bit_AVX2) != 0;
  }();
  return avx2;
}

#endif

#if defined(__x86_64__)
BlockScan resolved(BlockScan scan) {
  if (scan == BlockScan::Best || scan == BlockScan::Avx2)
    return has_avx2() ? BlockScan::Avx2 : BlockScan::Sse2;
  return scan;
}
#else
BlockScan resolved(BlockScan) { return BlockScan::Portable; }
#endif

}  // namespace

std::vector<BlockScan> available_block_scans() {
  std::vector<BlockScan> scans{BlockScan::Portable};
#if defined(__x86_64__)
  scans.push_back(BlockScan::Sse2);
  if (has_avx2()) scans.push_back(BlockScan::Avx2);
#endif
  return scans;
}

std::size_t find_string_special(std::string_view text, std::size_t pos, BlockScan scan) {
  switch (resolved(scan)) {
#if defined(__x86_64__)
    case BlockScan::Avx2:
      return find_special_avx2(text, pos);
    case BlockScan::Sse2:
      return find_special_sse2(text, pos);
#endif
    default:
      return find_special_portable(text, pos);
  }
}

std::size_t valid_utf8_prefix(std::string_view bytes, BlockScan scan) {
  switch (resolved(scan)) {
#if defined(__x86_64__)
    case BlockScan::Avx2:
      return valid_utf8_prefix_avx2(bytes);
    case BlockScan::Sse2:
      return valid_utf8_prefix_sse2(bytes);
#endif
    default:
      return valid_utf8_prefix_portable(bytes);
  }
}

}  // namespace murmela
