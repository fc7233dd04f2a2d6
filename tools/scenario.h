// A scenario for bladecfg-sim: the blade the driver is loaded into, read from a JSON file. It
// gives the FRU devices with their mailboxes, the starting variables, the platform's answers and
// input levels, the processor topology, the BMC's behaviour (misbehaviour included), the firmware's
// failures and missing protocols, the PCI adapters with their drivers and when they start, and
// whether and when the completion signal comes. Every value is checked; a bad one is reported with
// the file and its place in it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mailbox_format/mailbox_image.h"
#include "sim/blade.h"
#include "sim/bmc.h"
#include "tools/json_view.h"
#include "tools/scenario_adapters.h"
#include "tools/variable_fields.h"

namespace tools {

struct FruDeviceSetup {
  UINT8 Id;
  std::vector<uint8_t> Bytes; // the device's contents at power-on
  std::string Source;         // "mailbox", "image FILE" or "empty"
};

struct VariableSetup {
  const KnownVariable* Var;
  std::optional<std::vector<uint8_t>> Data; // unset: the variable does not exist
};

// Answers the BMC gives instead of its own, to the requests Match picks: busy (completion 0x81) or
// another completion code, a transport failure with no answer, an answer that does not tell the
// truth, or an answer that takes its time.
struct AnswerSetup {
  enum Kind { Completion, TransportFailure, Untruthful, Delay };
  Kind What = Completion;
  UINT8 Code = 0;
  EFI_STATUS Status = EFI_SUCCESS;
  sim::FruAnswerFault Fault{};
  uint64_t DelayMicroseconds = 0;
  int Times = 1; // -1: every matching request
  sim::RequestMatch Match;
};

// The BMC's side of a mailbox's lock: held until a virtual time (UINT64_MAX: for ever), or
// reacting to the host.
struct LockSetup {
  UINT8 Fru;
  UINT16 HeaderOffset;
  uint64_t UntilMicroseconds = UINT64_MAX;
  std::optional<sim::LockReaction> Reaction;
  unsigned AfterRequests = 0;
};

// Bytes the BMC writes itself, at a virtual time or just before the request Before picks.
struct BmcWriteSetup {
  UINT8 Fru;
  UINT16 Offset;
  std::vector<uint8_t> Bytes;
  uint64_t AtMicroseconds = 0;
  std::optional<sim::RequestMatch> Before;
};

// A platform-information answer given once, in its turn: a value or a failing status.
struct InfoAnswerSetup {
  EFI_STATUS Status;
  UINT64 Value;
};

struct PoolFailureSetup {
  unsigned Nth;
  EFI_STATUS Status;
};

// Variable service calls that fail: reads or writes of one variable from the Nth on, or the Nth
// call of a kind whatever it names (Var null).
struct VariableFailureSetup {
  const KnownVariable* Var = nullptr;
  sim::VariableAccess Kind = sim::VariableAccess::Any;
  unsigned Nth = 1;
  int Times = 1;
  EFI_STATUS Status = EFI_DEVICE_ERROR;
};

struct Scenario {
  std::string Name; // the file, or "built-in default"
  std::string Description;
  std::vector<FruDeviceSetup> Frus;
  std::vector<VariableSetup> Variables; // only those the scenario names; the rest zero-filled
  std::map<UINTN, UINT64> PlatformInfo;
  std::map<UINTN, EFI_STATUS> PlatformInfoFailures;
  std::map<UINTN, std::vector<InfoAnswerSetup>> PlatformInfoSequences;
  std::optional<bool> AdapterReady;
  std::optional<uint64_t> AdapterReadyAtMicroseconds;
  std::optional<bool> WaitEnable;
  std::optional<UINT32> ThreadsPerCore;
  std::optional<UINT32> CoresPerPackage;
  std::optional<UINT32> MaxCpuidLeaf;
  std::vector<AnswerSetup> Answers;
  uint64_t RequestCostMicroseconds = 0;
  std::vector<LockSetup> Locks;
  std::vector<BmcWriteSetup> BmcWrites;
  AdapterSetup Adapters;
  sim::BladeOptions Options; // the protocols missing
  std::vector<PoolFailureSetup> PoolFailures;
  std::vector<VariableFailureSetup> VariableFailures;
  bool CompletionSignal = true;
  // Unset: after the last adapter driver has started (right after the entry when none does).
  std::optional<uint64_t> CompletionAtMicroseconds;
};

// Reads a scenario file; FRU image files are found relative to it. Throws InputError.
Scenario LoadScenario(const std::string& Path);

// Reads a scenario from parsed JSON; Name is how messages name it.
Scenario ParseScenario(const nlohmann::json& Json, const std::string& Name,
                       const std::string& BaseDirectory);

// The built-in default blade, as a scenario file's text.
const std::string& DefaultScenarioText();
Scenario DefaultScenario();

} // namespace tools
