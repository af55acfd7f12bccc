#include "common/system_error.hpp"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "common/cli_error.hpp"
#include "common/try.hpp"

using namespace murmela;

namespace {

std::expected<int, SystemError> number_or(int error_number) {
  if (error_number != 0) return system_failure(error_number);
  return 7;
}

Result<int> doubled(int error_number) {
  TRY_ASSIGN(const int number, number_or(error_number));
  return number * 2;
}

Done checked(int error_number) {
  TRY(number_or(error_number));
  return {};
}

std::expected<int, std::string> parsed(bool good) {
  if (good) return 4;
  return std::unexpected("not a number");
}

// Assigns an existing variable, and reads the expression once.
std::expected<int, std::string> summed(bool good, int& calls) {
  int total = 1;
  TRY_ASSIGN(total, (++calls, parsed(good)));
  return total + 1;
}

}  // namespace

TEST(SystemError, TextIsTheSystemsWithWhatWasBeingDone) {
  EXPECT_EQ(SystemError{ENOENT}.text(), "No such file or directory (os error 2)");
  EXPECT_EQ((SystemError{ENOENT, "Cannot read notes.txt"}.text()),
            "Cannot read notes.txt: No such file or directory (os error 2)");
  EXPECT_EQ(system_error_text(SystemError{EACCES, "Cannot start app"}),
            "Permission denied (os error 13)");
  EXPECT_TRUE((SystemError{EPIPE, "Cannot write the output"} == EPIPE));
  EXPECT_TRUE((SystemError{EIO} != EPIPE));
}

TEST(SystemError, BecomesAFailedCliErrorOfItsText) {
  const CliError error = SystemError{ENOSPC, "Cannot write the output"};
  EXPECT_EQ(error,
            CliError::failed("Cannot write the output: No space left on device (os error 28)"));
}

TEST(Try, PassesTheValueOnAndTheFailureUpConverted) {
  EXPECT_EQ(doubled(0), 14);
  EXPECT_EQ(doubled(ENOENT).error(), CliError::failed("No such file or directory (os error 2)"));
  EXPECT_TRUE(checked(0).has_value());
  EXPECT_EQ(checked(EPERM).error(), CliError::failed("Operation not permitted (os error 1)"));

  int calls = 0;
  EXPECT_EQ(summed(true, calls), 5);
  EXPECT_EQ(summed(false, calls).error(), "not a number");
  EXPECT_EQ(calls, 2);
}
