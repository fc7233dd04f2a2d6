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

// The two platform input levels as the harness read them.
struct InputsLine {
  uint32_t ReadyPort; // 32 bits of port 0x50C
  uint32_t WaitPort;  // 32 bits of port 0x548
  bool Risen;         // the timed rise of the adapter-ready input has come
};

// One call of the adapter stand-in's Execute.
struct ExecLine {
  std::string Location; // "bb:dd.f" of the PCI function behind the handed record; "-" when none
  EFI_STATUS LocationStatus;
  bool OwnRecord;         // the record the stand-in installed, not a copy
  bool CommandZeroFilled; // zeros behind the text to the end of the 256-byte buffer
  bool ResponseZeroed;    // the 4096-byte response buffer held zeros
  EFI_STATUS Returned;
  uint32_t StatusWord;
  std::string Text;
};

// One StartupAllAPs call.
struct MpCallLine {
  std::string Image; // the file of the image whose code the procedure is, "-" for none
  uint32_t Offset;   // the procedure's offset from that image's base
  bool SingleThread;
  uint64_t TimeoutInMicroSeconds;
  bool WaitEvent;
  bool Argument;
  bool FailedCpuList;
  EFI_STATUS Status;
};

struct Snapshot {
  std::map<std::pair<int, int>, ReadBack> Fru; // by (FRU id, offset)
  std::map<std::string, ReadBack> Variables;   // by "<name> <guid>", the GUID in lower case
  size_t CodesSeen = 0;
  std::vector<CodeLine> Codes;
  std::optional<InputsLine> Inputs;
  size_t ExecutesSeen = 0;
  std::vector<ExecLine> Executes;
  size_t MpCallsSeen = 0;
  std::vector<MpCallLine> MpCalls;
};

// A PCI I/O handle, in the order the firmware hands them out.
struct PciIoLine {
  unsigned Segment;
  std::string Location; // "bb:dd.f"
  uint32_t Id;
  EFI_STATUS Status;
};

struct ConnectLine {
  std::string Location;
  EFI_STATUS Status; // ConnectController's, or why it could not be called
  bool Installed;    // the stand-in installed the adapter's protocol
};

// Execute called by the harness itself.
struct ExecuteLine {
  std::string Location;
  EFI_STATUS Status;
  uint32_t StatusWord;
};

struct MpRunLine {
  EFI_STATUS Status;
  uint64_t Processors;
  uint64_t Enabled;
  uint64_t Ran; // application processors that ran the harness's procedure
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
  std::vector<PciIoLine> PciIo;            // the last listing
  std::vector<std::string> Connecting;     // said before each ConnectController
  std::vector<ConnectLine> Connects;
  std::vector<ExecuteLine> HarnessExecutes;
  std::vector<MpRunLine> MpRuns;
  std::vector<std::pair<uint64_t, uint32_t>> ReadyWaits; // milliseconds waited, port 0x50C then
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
