#include "connection_limits.hpp"

#include <gtest/gtest.h>

namespace {

using stand_in::connection_limits;

// Under an ordinary limit on descriptors, each kind of connection has its
// own fixed number.
TEST(ConnectionLimits, AnOrdinaryBudgetGivesTheFixedNumbers) {
  const auto limits = connection_limits(6656);  // a limit of 20,000 descriptors
  EXPECT_EQ(limits.reading, 128);
  EXPECT_EQ(limits.answering, 128);
  EXPECT_EQ(limits.waiting, 256);
  EXPECT_EQ(limits.sending, 128);
}

// However small the budget, waits and unread replies at their limits leave
// a quarter of it for requests being read and answered, and every kind of
// connection gets at least one.
TEST(ConnectionLimits, WaitsAndRepliesLeaveRoomUnderAnyBudget) {
  for (std::size_t budget : {4u, 5u, 7u, 89u, 300u, 1000u, 1025u}) {
    SCOPED_TRACE(budget);
    const auto limits = connection_limits(budget);
    EXPECT_GE(budget - limits.waiting - limits.sending, budget / 4);
    EXPECT_GE(limits.reading, 1);
    EXPECT_LE(static_cast<std::size_t>(limits.reading), budget);
  }
  for (std::size_t budget : {0u, 1u, 2u, 3u}) {
    const auto limits = connection_limits(budget);
    EXPECT_EQ(limits.reading, 1);
    EXPECT_EQ(limits.waiting, 1);
    EXPECT_EQ(limits.sending, 1);
  }
}

}  // namespace
