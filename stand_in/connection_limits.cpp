#include "connection_limits.hpp"

#include <algorithm>

namespace stand_in {

namespace {

int share(std::size_t budget, std::size_t divisor, int most) {
  return static_cast<int>(std::clamp<std::size_t>(budget / divisor, 1, most));
}

}  // namespace

ConnectionLimits connection_limits(std::size_t budget) {
  return {.reading = share(budget, 4, 128),
          .answering = 128,
          .waiting = share(budget, 2, 256),
          .sending = share(budget, 4, 128)};
}

}  // namespace stand_in
