// Runs a scenario: builds the simulated blade it describes, loads the driver, starts the adapter
// drivers and gives the completion signal at their virtual times, and gathers what happened for
// the report.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/blade.h"
#include "tools/adapter_arrivals.h"
#include "tools/scenario.h"
#include "tools/variable_fields.h"

namespace tools {

// One command of a mailbox list, as the run left it.
struct CommandOutcome {
  UINT8 List;
  size_t Index;
  UINT16 Id;
  std::string Text;
  unsigned Executions; // how often the host read the command to carry it out
  std::optional<mailbox_format::ResultRecordValue> Record;
  std::string Meaning; // "Done", "Refused, retried 2 times", "no record (not a platform command)"
  // The text as the host last read it, when that differs from the mailbox at power-on (the BMC
  // wrote into it meanwhile, or answered with other bytes).
  std::optional<std::string> TextAsRead;
};

struct MailboxOutcome {
  UINT8 Fru;
  bool Platform; // the platform's own mailbox (FRU device 1, or 2 when information item 30 is set)
  UINT16 HeaderOffset;
  UINT16 ResultAreaOffset;
  std::array<uint8_t, mailbox_format::MailboxLockBytes> LockBefore, LockAfterEntry, LockAtEnd;
  std::vector<UINT8> OverflowLists;
  std::vector<CommandOutcome> Commands;
};

struct IpmiCounts {
  size_t Requests = 0;
  size_t FruReads = 0;
  size_t FruWrites = 0;
  size_t Other = 0;
  size_t BusyRetried = 0; // answered busy, so sent again
  size_t Failed = 0;      // any other failure
};

// One call into the driver and what it did: its requests (Trace[FirstRequest, EndRequest)), the
// variables it changed, the status codes it raised. An adapter driver's start is a step too, with
// what its arrival did in detail.
struct StepOutcome {
  std::string Name; // "entry", "adapter driver 8086 starts on 05:00.0", "completion signal"
  bool Ran = true;  // false: the boot had ended before its time
  sim::BootOutcome Outcome;
  size_t FirstRequest = 0;
  size_t EndRequest = 0;
  std::vector<FieldChange> Changes;
  std::vector<sim::StatusCodeRecord> StatusCodes;
  std::optional<size_t> Arrival; // its entry in RunOutcome::Arrivals
};

struct RunOutcome {
  std::string Scenario;
  std::string Description;
  sim::BootOutcome Entry;
  std::optional<sim::BootOutcome> Completion; // unset when not given (or a reset came first)
  bool CompletionDue = false;                 // the scenario gives it
  // The entry, each adapter driver's start and the completion signal, in the order they ran.
  std::vector<StepOutcome> Steps;
  std::vector<ArrivalOutcome> Arrivals; // the starts' details, in the same order
  std::vector<MailboxOutcome> Mailboxes;
  std::vector<FieldChange> Changes; // over the whole boot
  std::vector<sim::StatusCodeRecord> StatusCodes;
  std::vector<sim::ResetRecord> Resets;
  std::vector<sim::IpmiRequest> Trace;
  std::map<UINT8, std::vector<uint8_t>> FrusAtEnd; // every FRU device as the boot left it
  IpmiCounts Ipmi;
  uint64_t VirtualMicroseconds = 0;
  size_t Stalls = 0;
  double RealMilliseconds = 0;
  std::vector<std::string> Problems; // misuse the simulated blade detected
};

RunOutcome RunScenario(const Scenario& S);

} // namespace tools
