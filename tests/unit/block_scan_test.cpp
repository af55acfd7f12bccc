#include "common/block_scan.hpp"

#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "common/utf8.hpp"

using namespace murmela;
using namespace std::string_literals;

namespace {

std::string scan_name(BlockScan scan) {
  switch (scan) {
    case BlockScan::Portable:
      return "portable";
    case BlockScan::Sse2:
      return "SSE2";
    case BlockScan::Avx2:
      return "AVX2";
    default:
      return "best";
  }
}

std::size_t naive_special(std::string_view text, std::size_t pos) {
  for (; pos < text.size(); ++pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x20 || c == '"' || c == '\\') return pos;
  }
  return text.size();
}

// Every block has a first and a last byte and a byte on each side of its
// 16- and 32-byte halves: sizes and offsets up to three 64-byte steps reach
// them all.
constexpr std::size_t kSpan = 3 * 64 + 5;

TEST(BlockScan, FindsEachSpecialByteAtEveryOffset) {
  // Neighbours of the special bytes' values, which a signed or off-by-one
  // comparison would take for special.
  const std::string plain_bytes = "\x20\x21\x5B\x5D\x7F\x80\xA2\xDC\xFF"s;
  const std::string special_bytes = "\"\\\x00\x01\n\x1F"s;
  for (const BlockScan scan : available_block_scans()) {
    SCOPED_TRACE(scan_name(scan));
    for (std::size_t size = 0; size <= kSpan; ++size) {
      std::string text(size, ' ');
      for (std::size_t i = 0; i < size; ++i) text[i] = plain_bytes[i % plain_bytes.size()];
      EXPECT_EQ(find_string_special(text, 0, scan), size);
      for (std::size_t at = 0; at < size; ++at) {
        std::string marked = text;
        marked[at] = special_bytes[(at + size) % special_bytes.size()];
        ASSERT_EQ(find_string_special(marked, 0, scan), at) << "size " << size;
        ASSERT_EQ(find_string_special(marked, at, scan), at) << "size " << size;
        ASSERT_EQ(find_string_special(marked, at + 1, scan), size) << "size " << size;
      }
    }
  }
}

TEST(BlockScan, AgreesWithAByteWiseSearchOnRandomText) {
  std::mt19937 random(20);
  const std::string alphabet = "a \"\\\t\x7F\x80\xC3\xA4\xFF\x1F"s;
  for (const BlockScan scan : available_block_scans()) {
    SCOPED_TRACE(scan_name(scan));
    for (int round = 0; round < 300; ++round) {
      std::string text(random() % kSpan, 'a');
      for (char& c : text) {
        // Mostly plain text, so that runs longer than a block occur.
        if (random() % 8 == 0) c = alphabet[random() % alphabet.size()];
      }
      for (std::size_t pos = 0; pos <= text.size(); ++pos)
        ASSERT_EQ(find_string_special(text, pos, scan), naive_special(text, pos)) << text;
    }
  }
}

// Text whose characters are one to four bytes long, so that each kind of
// character straddles every block boundary somewhere.
std::string mixed_text(std::size_t bytes) {
  const std::string pieces[] = {"a",  "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                "bc", "\xD0\x96", "\xE4\xBC\x9A"};
  std::string text;
  for (std::size_t i = 0; text.size() < bytes; ++i) text += pieces[i % std::size(pieces)];
  return text;
}

TEST(BlockScan, ValidUtf8PassesWhereverItsCharactersFall) {
  const std::string characters[] = {"\xC2\x80",         "\xDF\xBF",        "\xE0\xA0\x80",
                                    "\xED\x9F\xBF",     "\xEE\x80\x80",    "\xEF\xBF\xBF",
                                    "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"};
  for (const BlockScan scan : available_block_scans()) {
    SCOPED_TRACE(scan_name(scan));
    for (const auto& character : characters) {
      for (std::size_t at = 0; at <= kSpan; ++at) {
        for (const std::string& before : {std::string(at, 'x'), mixed_text(at)}) {
          std::string text = before + character;
          // Both where the text ends right after it, and where it goes on.
          EXPECT_EQ(first_invalid_utf8(text, scan), std::string_view::npos) << text.size();
          text += mixed_text(150);
          EXPECT_EQ(first_invalid_utf8(text, scan), std::string_view::npos) << text.size();
        }
      }
    }
    const std::string long_text = mixed_text(1 << 16);
    EXPECT_EQ(first_invalid_utf8(long_text, scan), std::string_view::npos);
  }
}

TEST(BlockScan, InvalidUtf8IsFoundAtEveryOffset) {
  // Each fault starts at its first byte, where the search must point.
  const std::string faults[] = {
      "\x80",                  // continuation without a lead
      "\xBF\xBF",              // two of them
      "\xC0\xAF",              // overlong two-byte form
      "\xC1\xBF",              //
      "\xE0\x9F\xBF",          // overlong three-byte form
      "\xF0\x8F\xBF\xBF",      // overlong four-byte form
      "\xED\xA0\x80",          // surrogate
      "\xED\xBF\xBF",          //
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xF5\x80\x80\x80",      //
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFF",                  //
      "\xC3"
      "a",  // cut short by ASCII
      "\xE2\x82"
      "a",  //
      "\xF0\x9F\x98"
      "a",                     //
      "\xC3\xC3\xA4",          // cut short by a lead byte
      "\xE2\x82\xE2\x82\xAC",  //
      "\xC3\xA4\x80",          // one continuation too many
      "\xF0\x9F\x98\x80\x80",  //
  };
  for (const BlockScan scan : available_block_scans()) {
    SCOPED_TRACE(scan_name(scan));
    for (const auto& fault : faults) {
      // A fault after a valid character, not at its own start.
      const std::size_t shift = fault.starts_with("\xC3\xA4")           ? 2
                                : fault.starts_with("\xF0\x9F\x98\x80") ? 4
                                                                        : 0;
      for (std::size_t at = 0; at <= kSpan; ++at) {
        for (const std::string& before : {std::string(at, 'x'), mixed_text(at)}) {
          const std::string text = before + fault + mixed_text(150);
          ASSERT_EQ(first_invalid_utf8(text, scan), before.size() + shift)
              << "fault " << &fault - faults << " after " << before.size() << " bytes";
        }
      }
    }
  }
}

TEST(BlockScan, TruncatedSequencesAtTheEndAreInvalid) {
  const std::string cuts[] = {"\xC3", "\xE2", "\xE2\x82", "\xF0", "\xF0\x9F", "\xF0\x9F\x98"};
  for (const BlockScan scan : available_block_scans()) {
    SCOPED_TRACE(scan_name(scan));
    for (const auto& cut : cuts) {
      for (std::size_t at = 0; at <= kSpan; ++at) {
        for (const std::string& before : {std::string(at, 'x'), mixed_text(at)}) {
          ASSERT_EQ(first_invalid_utf8(before + cut, scan), before.size())
              << "cut " << cut.size() << " after " << before.size() << " bytes";
        }
      }
    }
  }
}

TEST(BlockScan, AgreesWithThePortableScanOnRandomBytes) {
  std::mt19937 random(7);
  const std::string pieces[] = {"a",    "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                "\x80", "\xE2\x82", "\xED\xA0\x80", "\xF4\x90",
                                "\xC0", "\xFF"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const std::size_t length = random() % 300;
    while (text.size() < length) {
      // Faults are rare, so that long valid stretches come before them.
      text += pieces[random() % 40 == 0 ? random() % std::size(pieces) : random() % 4];
    }
    const std::size_t expected = first_invalid_utf8(text, BlockScan::Portable);
    for (const BlockScan scan : available_block_scans())
      ASSERT_EQ(first_invalid_utf8(text, scan), expected) << scan_name(scan) << " on " << text;
  }
}

}  // namespace

#if defined(__x86_64__) && defined(__GNUC__)
// The processor is asked directly; the compiler's own runtime check, where
// it is linked, must agree.
TEST(BlockScan, Avx2IsOfferedExactlyWhereTheProcessorAndSystemRunIt) {
  __builtin_cpu_init();
  const auto scans = available_block_scans();
  const bool offered = std::find(scans.begin(), scans.end(), BlockScan::Avx2) != scans.end();
  EXPECT_EQ(offered, __builtin_cpu_supports("avx2") != 0);
}
#endif
