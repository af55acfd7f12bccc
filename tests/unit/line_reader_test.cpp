#include "common/line_reader.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace murmela;

namespace {

// Every read of `input`, with lines of at most `limit` bytes: the line's text,
// "(too long)", "(end)" or "(failed)".
std::vector<std::string> reads_of(const std::string& input, std::size_t limit) {
  std::FILE* file = std::tmpfile();
  EXPECT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
  std::fflush(file);
  ::lseek(::fileno(file), 0, SEEK_SET);
  LineReader reader(::fileno(file), limit);
  std::vector<std::string> reads;
  for (;;) {
    const auto read = reader.next();
    switch (read.outcome) {
      case LineReader::Outcome::Line:
        reads.emplace_back(read.text);
        continue;
      case LineReader::Outcome::TooLong:
        reads.emplace_back("(too long)");
        continue;
      case LineReader::Outcome::End:
        reads.emplace_back("(end)");
        break;
      case LineReader::Outcome::Failed:
        reads.emplace_back("(failed)");
        break;
    }
    break;
  }
  std::fclose(file);
  return reads;
}

using Reads = std::vector<std::string>;

TEST(LineReader, LinesUpToTheLimitAndOverIt) {
  EXPECT_EQ(reads_of("", 4), Reads{"(end)"});
  EXPECT_EQ(reads_of("abcd\nabcde\n\nab\r\nabcdefgh", 4),
            (Reads{"abcd\n", "(too long)", "\n", "ab\r\n", "(too long)", "(end)"}));
  EXPECT_EQ(reads_of("abcd", 4), (Reads{"abcd", "(end)"}));
}

// Lines across many reads of the descriptor, the long one never held whole.
TEST(LineReader, LinesLongerThanOneRead) {
  const std::string fits(300000, 'a');
  const std::string over(300001, 'b');
  EXPECT_EQ(reads_of(fits + "\n" + over + "\nc\n" + over, fits.size()),
            (Reads{fits + "\n", "(too long)", "c\n", "(too long)", "(end)"}));
}

}  // namespace
