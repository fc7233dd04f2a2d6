// The fewest IPMI requests a mailbox run can make under the FRU-access rules, worked out from the
// mailbox's bytes alone, and the driver's own requests compared with them. The rules: a transfer
// goes in requests of at most 16 bytes; the header search reads the 28 bytes at each candidate up
// to the one that holds "$FIP"; the lock writes its flag and its turn (each a compare read, and a
// write only when the byte changes) and reads the BMC's flag (and the turn while the BMC asks);
// under the lock the result area offset and the list's offset are read again; then per command
// one read of its id, one read per 16 bytes of its text with the NUL, and for a command that gets a
// result record a compare read of the record and a write only when its bytes change; at last the
// id that ends the list (or the 33rd command's, and then the overflow marker's compare read and
// write). Requests other than Read and Write FRU Data (the power-restore policy, for one) belong
// to the commands and count as needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/bmc.h"

namespace bench {

struct FruRequest {
  bool Write;
  uint8_t Fru;
  uint16_t Offset;
  uint8_t Count;
  bool operator==(const FruRequest& O) const {
    return Write == O.Write && Fru == O.Fru && Offset == O.Offset && Count == O.Count;
  }
};

std::string Describe(const FruRequest& R);

// The platform pass over list 0 of the mailbox in FRU device Fru, which held Before when the pass
// began and holds After when it has ended. A command gets a result record when it begins with
// "SET BOOTCFGSETTING1 " or "SET B1 " (letters in either case).
std::vector<FruRequest> PlatformPassFloor(const std::vector<uint8_t>& Before,
                                          const std::vector<uint8_t>& After, uint8_t Fru);

struct FloorComparison {
  size_t Requests = 0; // every IPMI request of the trace
  size_t Floor = 0;    // the fewest: the floor's FRU requests and the trace's other requests
  std::vector<std::string> Surplus; // requests of the trace beyond the floor
  std::vector<std::string> Missing; // requests of the floor that the trace lacks
  double Ratio() const { return Floor == 0 ? 0.0 : double(Requests) / double(Floor); }
};

FloorComparison CompareWithFloor(const std::vector<sim::IpmiRequest>& Trace,
                                 const std::vector<FruRequest>& Floor);

} // namespace bench
