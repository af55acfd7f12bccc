#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace murmela {

// How the byte scans under the JSON reader and printer walk their text:
// eight bytes in a machine word (any processor), 16 bytes with SSE2 (every
// x86-64) or 32 bytes with AVX2. All give the same answers; `Best` is the
// fastest this processor runs, and tests ask for each one by name.
enum class BlockScan : std::uint8_t { Best, Portable, Sse2, Avx2 };

// The scans this processor can run, `Portable` first.
std::vector<BlockScan> available_block_scans();

// The first position from `pos` on of a byte that ends a run of plain
// string text: a quotation mark, a backslash or a control character
// (below 0x20); text.size() when there is none.
std::size_t find_string_special(std::string_view text, std::size_t pos,
                                BlockScan scan = BlockScan::Best);

// A prefix of `bytes` that is valid UTF-8 and ends where a character starts;
// a scan may stop early (at the latest just before the first fault, or near
// the end), and the caller checks the rest byte by byte.
std::size_t valid_utf8_prefix(std::string_view bytes, BlockScan scan = BlockScan::Best);

}  // namespace murmela
