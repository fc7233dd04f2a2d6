// What one adapter driver's arrival did, read back from the simulated blade's records: the branch
// the driver took (run now, default restore, or a wait for the adapter-ready input), each adapter
// it served with every command as read from the mailbox and as sent after rewriting (or why it
// was not sent), the status words and result records, the OEM messages, the processors' clock
// modulation, the variables written and the reset.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mailbox_format/result_records.h"
#include "sim/blade.h"
#include "tools/blade_recorder.h"
#include "tools/scenario.h"
#include "tools/variable_fields.h"

namespace tools {

struct IpmiCounts;

// One command record of a mailbox list as one adapter pass took it.
struct AdapterCommandOutcome {
  UINT8 List;
  size_t Index;
  UINT16 Id;
  std::string Read;                // the text as read from the mailbox
  bool ReadWhole;                  // the text's NUL was read
  std::optional<std::string> Sent; // the text the adapter's Execute received
  std::optional<sim::ClpAnswer> Answer;
  std::string NotSent; // why not, when not sent
  std::optional<mailbox_format::ResultRecordValue> Record;
  bool RecordWritten = false; // false with a record: the slot held those bytes already
};

// The run's pass over one mailbox for one adapter.
struct AdapterPass {
  std::optional<sim::PciAddress> Location; // the adapter served
  UINT16 VendorId = 0;
  UINT16 DeviceId = 0;
  std::optional<size_t> Row; // in the adapter slot table
  UINT32 PendingBit = 0;
  std::optional<unsigned> Port; // the port number it answers to, for vendors that filter ports
  UINT8 Fru;
  UINT16 HeaderOffset;
  std::optional<UINT16> ResultArea;
  std::vector<AdapterCommandOutcome> Commands;
  std::vector<UINT8> OverflowLists;
  bool Released = false; // HostLockFlag cleared at its end
};

// An OEM message to the BMC: wait begins, wait ends, or the system UUID.
struct OemMessage {
  uint64_t Time;
  std::string What;
  std::vector<uint8_t> Data;
  EFI_STATUS Status;
  UINT8 CompletionCode;
};

// IA32_CLOCK_MODULATION set on the boot processor and then through StartupAllAPs.
struct ClockPhase {
  uint64_t Time;
  bool Throttle;                                // a nonzero value written
  std::vector<std::pair<UINTN, UINT64>> Writes; // processor, value written
  std::optional<sim::ApStartup> Startup;
};

struct VariableWriteOutcome {
  std::string Variable;
  EFI_STATUS Result;
  std::vector<FieldChange> Changes;
};

struct RestoreCall {
  std::string Text;
  sim::ClpAnswer Answer;
};

enum class ArrivalBranch { None, RunNow, Restore, Wait };

struct ArrivalOutcome {
  std::string Driver;
  sim::PciAddress Function;
  UINT16 VendorId = 0;
  UINT16 DeviceId = 0;
  uint64_t At = 0;
  bool Ran = false; // false: the boot had ended before its time
  uint64_t Started = 0;
  uint64_t Ended = 0;
  sim::BootOutcome Outcome;
  std::optional<size_t> Row;
  std::optional<UINT8> Fru;
  std::optional<bool> AdapterReady; // as read when it arrived
  std::optional<bool> WaitEnable;
  ArrivalBranch Branch = ArrivalBranch::None;
  std::string Why; // the branch's reason, or why the arrival ended before one
  std::optional<uint64_t> WaitBegan, WaitEnded;
  unsigned Polls = 0; // reads of the adapter-ready input during the wait
  std::vector<AdapterPass> Passes;
  std::vector<RestoreCall> Restore;
  std::vector<OemMessage> Messages;
  std::vector<ClockPhase> Clock;
  std::vector<VariableWriteOutcome> Writes;
  std::vector<sim::StatusCodeRecord> StatusCodes;
  std::vector<sim::ResetRecord> Resets;
  size_t Requests = 0;
  std::vector<std::string> Notes;
};

// The records of one call into the driver, between two marks of the recorder.
struct StepRecords {
  sim::Blade& Blade; // read only
  const std::vector<sim::IpmiRequest>& Trace;
  const std::vector<RecordMarks>& BeforeRequest;
  RecordMarks Begin;
  RecordMarks End;
  VariableSnapshot VariablesBefore;
};

// Reads the arrival of driver Driver (the blade's index) on Function, which ended as Outcome, out
// of the step's records.
ArrivalOutcome DescribeArrival(const Scenario& S, size_t Driver, sim::PciAddress Function,
                               const sim::BootOutcome& Outcome, const StepRecords& Step);

// The slot table row whose bridge (as the scenario's topology places it) and function match the
// adapter at Function, as the driver searches.
std::optional<size_t> SlotRowOf(const PciSetup& Pci, sim::PciAddress Function);

// The variable writes of a step, field by field against what the variable held before each.
std::vector<VariableWriteOutcome> DescribeWrites(const VariableSnapshot& Before,
                                                 const std::vector<sim::VariableWrite>& Writes,
                                                 size_t From, size_t To);

} // namespace tools
