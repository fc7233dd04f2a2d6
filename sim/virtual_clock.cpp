#include <string>

#include "sim/firmware.h"

namespace sim {

void VirtualClock::Advance(uint64_t Microseconds) {
  Now_ = Microseconds > UINT64_MAX - Now_ ? UINT64_MAX : Now_ + Microseconds;
  if (Now_ - BootStart_ > Watchdog_) {
    throw SimulatedHang{"the boot ran " + std::to_string(Now_ - BootStart_) +
                        " us of virtual time, past the watchdog limit of " +
                        std::to_string(Watchdog_) + " us"};
  }
}

} // namespace sim
