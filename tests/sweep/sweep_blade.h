// The failure sweep's machinery: a whole boot as a list of steps run on a fresh blade, the calls of
// each kind it makes, one of them made to fail, and what the boot left behind to judge it by.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/blade.h"

namespace sweep {

// The calls a failure can be injected into, each counted over the whole boot.
enum class Kind {
  Pool,
  Ipmi,
  VariableRead,
  VariableWrite,
  LocateProtocol,
  LocateHandleBuffer,
  HandleProtocol,
};
constexpr Kind Kinds[] = {Kind::Pool,          Kind::Ipmi,           Kind::VariableRead,
                          Kind::VariableWrite, Kind::LocateProtocol, Kind::LocateHandleBuffer,
                          Kind::HandleProtocol};
const char* KindName(Kind K);

// How the n-th IPMI request fails: a completion code, no answer at all, or half the data missing.
struct IpmiFault {
  enum How { Completion, Transport, Short } Way;
  UINT8 Code;
  const char* Name;
};
extern const IpmiFault IpmiFaults[6];

// One failure: the n-th call of a kind, and for IPMI the way it fails.
struct Failure {
  Kind What;
  uint64_t Nth;
  IpmiFault Ipmi{IpmiFault::Completion, 0, ""};
};

// A step of the boot: a call into the driver (its entry, an adapter's start, the completion
// signal). The step's preparations (inputs set for an arrival) belong to Run.
struct Step {
  std::string Name;
  std::function<sim::BootOutcome(sim::Blade&)> Run;
};

// A scenario builds its blade and gives the steps of its boot; Places adds the adapter mailboxes
// the host may write into to what the trace shows of the platform's.
struct Scenario {
  std::string Name;
  std::function<void(sim::Blade&)> Build;
  std::vector<Step> Steps;
  std::vector<std::pair<UINT8, std::vector<UINT8>>> AdapterLists; // FRU device, lists that run
};

using Counts = std::map<Kind, uint64_t>;
Counts CountCalls(sim::Blade& Blade);

// What a boot left behind.
struct BootResult {
  std::vector<sim::BootOutcome> Steps;                // the steps that ran, in order
  std::vector<Counts> After;                          // the calls counted after each step
  std::map<UINT8, std::vector<uint8_t>> PowerOn, End; // every FRU device
  size_t Reports = 0;                                 // failure reports (0xC000B3A0)
  size_t Resets = 0;
  std::vector<sim::IpmiRequest> Trace;
  std::vector<UINT64> ClockModulation; // per processor, at the end
  std::vector<uint8_t> FruIdList;      // ClpCommandFruIdList at the end
  std::string OracleFailure;           // empty when every oracle held
  bool EndedInReset() const { return !Steps.empty() && Steps.back().Reset; }
};

// Boots the scenario on a fresh blade, with Fail armed when given, and checks the oracles every
// boot must pass whatever failed.
BootResult Boot(const Scenario& S, const Failure* Fail);

// The step in which call Nth of a kind was made, from a clean boot's counts.
size_t StepOf(const BootResult& Clean, Kind K, uint64_t Nth);

} // namespace sweep
