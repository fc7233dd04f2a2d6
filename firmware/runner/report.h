// The harness's report as the host reads it back (the line format is in
// firmware/harness/report_writer.h).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "uefi/types.h"

namespace fw {

struct LoadLine {
  std::string Path;
  EFI_STATUS LoadStatus;
  EFI_STATUS StartStatus;
  bool Resident;
};

struct ReadBack {
  EFI_STATUS Status;
  std::vector<uint8_t> Bytes;
};

struct CodeLine {
  uint32_t Type;
  uint32_t Value;
  uint32_t Instance;
};

struct PciLine {
  uint32_t Id;         // vendor in the low half, device in the high half
  uint32_t BusNumbers; // primary, secondary, subordinate bus in bytes 0 to 2 (bridges)
};

struct Snapshot {
  std::map<std::pair<int, int>, ReadBack> Fru; // by (FRU id, offset)
  std::map<std::string, ReadBack> Variables;   // by "<name> <guid>", the GUID in lower case
  size_t CodesSeen = 0;
  std::vector<CodeLine> Codes;
};

// The BMC's answer to a request the harness sent itself.
struct IpmiLine {
  uint8_t NetFn;
  uint8_t Command;
  EFI_STATUS Status;
  std::vector<uint8_t> Bytes; // after the completion code; the code alone on EFI_DEVICE_ERROR
};

// The harness's clock at a clock directive, in time-stamp counter ticks.
struct ClockLine {
  uint64_t Counter;
  uint64_t LastStartTicks; // how long the last StartImage took
  uint64_t IpmiTicks;      // time in the harness's own ipmi requests so far
};

struct ResetLine {
  uint32_t Type;
  EFI_STATUS Status;
};

struct Report {
  bool Began = false;
  bool Ended = false;
  std::vector<std::string> Started;
  std::vector<LoadLine> Loads;
  std::vector<EFI_STATUS> Completions;
  std::map<std::string, Snapshot> Snapshots;
  std::map<std::string, PciLine> Pci;     // by "bus:dev.fn" in hexadecimal
  std::map<std::string, ReadBack> Smbios; // System Information structure: get, update, reget, table
  std::vector<IpmiLine> Ipmi;             // in the order sent
  std::map<std::string, ClockLine> Clocks; // by tag
  std::optional<ResetLine> Reset;
  std::vector<std::string> Errors;   // what the harness itself reported as failing
  std::vector<std::string> Problems; // lines the host could not read, a missing end, a bad count

  // The run reported everything: begin and end present, the end's line count right, every line
  // readable.
  bool Complete() const { return Began && Ended && Problems.empty(); }
  // The load line of the file whose path ends in Name; null when there is none.
  const LoadLine* Load(const std::string& Name) const;
};

Report ParseReport(const std::string& Text);

} // namespace fw
