// The reports of bladecfg-bench --ipmi-floor: the driver's IPMI requests against the fewest the
// mailboxes allow, with every surplus request named.
#pragma once

#include <ostream>

namespace bench {

// The simulated platform pass for lists of 1, 12 and 32 commands.
void ReportPlatformPassFloor(std::ostream& Out);
// The arrivals of the worst adapter boot, for both of its cases.
void ReportWorstAdapterBootFloor(std::ostream& Out);

} // namespace bench
