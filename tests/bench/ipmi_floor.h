// The fewest IPMI requests the mailbox runs of a boot can make under the FRU-access rules, worked
// out from the mailboxes' bytes alone, and the driver's own requests compared with them. The
// rules: a transfer goes in requests of at most 16 bytes; the header search reads the 28 bytes at
// each candidate up to the one that holds "$FIP"; the lock writes its flag and its turn (each a
// compare read, and a write only when the byte changes) and reads the BMC's flag (and the turn
// while the BMC asks); under the lock the result area offset and each list's offset are read
// again, since the BMC may have changed them before the host held the lock; then per command one
// read of its id, one read per 16 bytes of its text with the NUL, and for a command that gets a
// result record a compare read of the record and a write only when its bytes change; at last the
// id that ends the list (or the 33rd command's, and then the overflow marker's compare read and
// write). Requests other than Read and Write FRU Data (the power-restore policy, for one) belong
// to the commands and count as needed.
//
// The platform pass runs list 0 of its mailbox. An adapter pass serves one adapter over lists 0 to
// 7 of its mailbox and, when the mailbox is not in FRU device 1 or 2, releases the lock at the end
// (a compare read and a write); a list with a 33rd command ends the adapter's lists. Each adapter
// pass begins with a header search of its own: the arrival's for the arriving adapter, the run's
// for every adapter that follows it, whose mailbox may lie elsewhere or have moved while its lock
// was free. The floor follows every FRU device's bytes through the boot, so a lock byte or record
// that already holds what a later pass wants costs that pass its compare read only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
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
  bool operator<(const FruRequest& O) const;
};

std::string Describe(const FruRequest& R);

// The floor of a boot's mailbox runs, pass by pass.
class BootFloor {
public:
  // What each FRU device holds when the first pass begins.
  explicit BootFloor(std::map<uint8_t, std::vector<uint8_t>> Devices);

  // The header search of FRU device Fru, counted under Purpose: the header's offset, or 0 when no
  // candidate holds it.
  uint16_t FindHeader(uint8_t Fru, const std::string& Purpose);

  // The platform pass over list 0 of the mailbox in Fru, whose result records end up as After
  // holds them. A command gets a record when it begins with "SET BOOTCFGSETTING1 " or "SET B1 "
  // (letters in either case).
  void PlatformPass(uint8_t Fru, const std::vector<uint8_t>& After);

  // One adapter served over the mailbox in Fru, its header searched first (counted under Search):
  // Takes says which command texts it is sent, and each of those is answered with the status word
  // Answer.
  void AdapterPass(uint8_t Fru, const std::string& Search,
                   const std::function<bool(const std::string&)>& Takes, uint32_t Answer);

  const std::vector<FruRequest>& Requests() const { return Requests_; }
  // How many of the requests serve each purpose.
  const std::map<std::string, size_t>& Purposes() const { return Purposes_; }

private:
  void Read(uint8_t Fru, uint32_t Offset, uint32_t Count, const std::string& Purpose);
  void Update(uint8_t Fru, uint32_t Offset, const std::vector<uint8_t>& Wanted,
              const std::string& Purpose);
  void Lock(uint8_t Fru, uint16_t H);
  // The header search (counted under Search), the lock and the result area offset read under it:
  // false when the pass runs nothing.
  bool Begin(uint8_t Fru, const std::string& Search, uint16_t* H, uint16_t* ResultArea);
  uint16_t ListOffset(uint8_t Fru, uint16_t H, uint8_t List);
  // The commands of one list from P; Record gives a command's result record bytes, or nothing
  // when the command gets none. False when the list holds a 33rd command.
  bool List(uint8_t Fru, uint32_t P, uint32_t ResultBlock,
            const std::function<std::vector<uint8_t>(uint16_t Id, const std::string& Text,
                                                     uint32_t At)>& Record);

  std::map<uint8_t, std::vector<uint8_t>> Bytes_;
  std::vector<FruRequest> Requests_;
  std::map<std::string, size_t> Purposes_;
};

// The platform pass alone, on a mailbox that held Before and holds After.
std::vector<FruRequest> PlatformPassFloor(const std::vector<uint8_t>& Before,
                                          const std::vector<uint8_t>& After, uint8_t Fru);

struct FloorComparison {
  size_t Requests = 0; // every IPMI request of the trace
  size_t Floor = 0;    // the fewest: the floor's FRU requests and the trace's other requests
  std::vector<std::string> Surplus; // requests of the trace beyond the floor
  std::vector<std::string> Missing; // requests of the floor that the trace lacks
  double Ratio() const { return Floor == 0 ? 0.0 : double(Requests) / double(Floor); }
};

// Trace's requests matched against Floor's as collections, whatever their order.
FloorComparison CompareWithFloor(const std::vector<sim::IpmiRequest>& Trace,
                                 const std::vector<FruRequest>& Floor);

// One line of the comparison under Label, the floor's requests by purpose when Purposes is given,
// then the first surplus and missing requests by name.
void PrintComparison(std::ostream& Out, const std::string& Label, const FloorComparison& C,
                     const std::map<std::string, size_t>* Purposes = nullptr);

} // namespace bench
