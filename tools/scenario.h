// A scenario for bladecfg-sim: the blade the driver is loaded into, read from a JSON file. It
// gives the FRU devices with their mailboxes, the starting variables, the platform's answers and
// input levels, the processor topology, the BMC's behaviour, the PCI adapters with their drivers
// and when they start, and whether and when the completion signal comes. Every value is checked; a
// bad one is reported with the file and its place in it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mailbox_format/mailbox_image.h"
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

// Answers the BMC gives instead of its own: busy (completion 0x81) or another completion code.
struct AnswerSetup {
  UINT8 Code;
  int Times; // -1: every matching request
  sim::RequestMatch Match;
};

// The BMC holds a mailbox's lock until a virtual time (UINT64_MAX: for ever).
struct LockSetup {
  UINT8 Fru;
  UINT16 HeaderOffset;
  uint64_t UntilMicroseconds;
};

// The BMC writes a FRU byte itself at a virtual time (its side of the lock, for example).
struct BmcWriteSetup {
  UINT8 Fru;
  UINT16 Offset;
  UINT8 Value;
  uint64_t AtMicroseconds;
};

struct Scenario {
  std::string Name; // the file, or "built-in default"
  std::string Description;
  std::vector<FruDeviceSetup> Frus;
  std::vector<VariableSetup> Variables; // only those the scenario names; the rest zero-filled
  std::map<UINTN, UINT64> PlatformInfo;
  std::map<UINTN, EFI_STATUS> PlatformInfoFailures;
  std::optional<bool> AdapterReady;
  std::optional<uint64_t> AdapterReadyAtMicroseconds;
  std::optional<bool> WaitEnable;
  std::optional<UINT32> ThreadsPerCore;
  std::optional<UINT32> CoresPerPackage;
  std::vector<AnswerSetup> Answers;
  std::vector<LockSetup> Locks;
  std::vector<BmcWriteSetup> BmcWrites;
  AdapterSetup Adapters;
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
