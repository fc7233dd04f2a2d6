#include "tests/sweep/sweep_blade.h"

#include "fuzz/oracles.h"
#include "sim/driver_image.h"
#include "sim/problems.h"

namespace sweep {
namespace {

constexpr EFI_STATUS_CODE_VALUE FailureReport = 0xC000B3A0;
constexpr UINT32 ClockModulationMsr = 0x19A;
constexpr UINT16 HeaderAt = 512; // every mailbox of the sweep's scenarios

struct OracleFailed {
  std::string What;
};

[[noreturn]] void Throw(const std::string& What) {
  throw OracleFailed{What};
}

void Arm(sim::Blade& Blade, const Failure& F) {
  const auto Nth = static_cast<unsigned>(F.Nth);
  switch (F.What) {
  case Kind::Pool:
    Blade.Firmware.Pool.FailAllocation(Nth, EFI_OUT_OF_RESOURCES);
    break;
  case Kind::VariableRead:
    Blade.Firmware.Variables.FailAccess(Nth, EFI_DEVICE_ERROR, sim::VariableAccess::Read);
    break;
  case Kind::VariableWrite:
    Blade.Firmware.Variables.FailAccess(Nth, EFI_DEVICE_ERROR, sim::VariableAccess::Write);
    break;
  case Kind::LocateProtocol:
    Blade.Firmware.FailLocateProtocol(Nth, EFI_NOT_FOUND);
    break;
  case Kind::LocateHandleBuffer:
    // EFI_NOT_FOUND would say that no handle carries the protocol: no failure at all.
    Blade.Firmware.FailLocateHandleBuffer(Nth, EFI_OUT_OF_RESOURCES);
    break;
  case Kind::HandleProtocol:
    Blade.Firmware.FailHandleProtocol(Nth, EFI_UNSUPPORTED);
    break;
  case Kind::Ipmi: {
    sim::RequestMatch Match;
    Match.Number = F.Nth;
    switch (F.Ipmi.Way) {
    case IpmiFault::Completion:
      Blade.Bmc.InjectCompletion(F.Ipmi.Code, 1, Match);
      break;
    case IpmiFault::Transport:
      Blade.Bmc.InjectStatus(EFI_TIMEOUT, 1, Match);
      break;
    case IpmiFault::Short:
      Blade.Bmc.InjectFruAnswerFault(sim::FruAnswerFault::ShorterThanCount, 1, Match);
      break;
    }
    break;
  }
  }
}

std::map<UINT8, std::vector<uint8_t>> Devices(sim::Bmc& Bmc) {
  std::map<UINT8, std::vector<uint8_t>> Out;
  for (UINT8 Id : Bmc.FruIds()) {
    Out[Id] = Bmc.Fru(Id);
  }
  return Out;
}

size_t Reports(const sim::Blade& Blade) {
  size_t N = 0;
  for (const sim::StatusCodeRecord& C : Blade.Platform.StatusCodes()) {
    N += C.Value == FailureReport ? 1 : 0;
  }
  return N;
}

// The oracles every boot must pass, whatever failed: each step ends (returns, or resets the
// blade), nothing is left in the pool, at most one failure report, and the host writes only where
// it may.
void CheckOracles(const Scenario& S, const BootResult& R, sim::Blade& Blade) {
  fuzz::BootRun Run;
  Run.Entry = R.Steps.front();
  if (R.Steps.size() > 1 && R.Steps.back().Returned) {
    Run.Completion = R.Steps.back();
  }
  fuzz::CheckBootEnds(Run, Blade);
  for (size_t I = 1; I < R.Steps.size(); ++I) {
    fuzz::Expect(!R.Steps[I].Hang, S.Steps[I].Name + " hung: " + R.Steps[I].HangReason);
    fuzz::Expect(R.Steps[I].Returned || R.Steps[I].Reset, S.Steps[I].Name + " did not end");
  }
  fuzz::CheckOneFailureReport(Blade);
  fuzz::WritePlaces Places = fuzz::PlatformWritePlaces(Blade.Bmc);
  for (const auto& [Fru, Lists] : S.AdapterLists) {
    Places.AllowLock(Fru, HeaderAt);
    const std::vector<uint8_t>& D = Blade.Bmc.Fru(Fru);
    const auto ResultArea = static_cast<UINT16>((D[HeaderAt + 24] << 8) | D[HeaderAt + 25]);
    for (UINT8 List : Lists) {
      Places.AllowResultBlock(Fru, ResultArea, List);
    }
  }
  fuzz::CheckHostWrites(Blade.Bmc, Places);
}

} // namespace

const IpmiFault IpmiFaults[6] = {
    {IpmiFault::Transport, 0, "transport error"}, {IpmiFault::Completion, 0xC0, "0xC0"},
    {IpmiFault::Completion, 0xCB, "0xCB"},        {IpmiFault::Completion, 0xCC, "0xCC"},
    {IpmiFault::Completion, 0xFF, "0xFF"},        {IpmiFault::Short, 0, "short answer"},
};

const char* KindName(Kind K) {
  switch (K) {
  case Kind::Pool:
    return "pool allocation";
  case Kind::Ipmi:
    return "IPMI request";
  case Kind::VariableRead:
    return "variable read";
  case Kind::VariableWrite:
    return "variable write";
  case Kind::LocateProtocol:
    return "LocateProtocol";
  case Kind::LocateHandleBuffer:
    return "LocateHandleBuffer";
  case Kind::HandleProtocol:
    return "HandleProtocol";
  }
  return "?";
}

Counts CountCalls(sim::Blade& Blade) {
  return {{Kind::Pool, Blade.Firmware.Pool.TotalAllocations()},
          {Kind::Ipmi, Blade.Bmc.RequestsThisBoot()},
          {Kind::VariableRead, Blade.Firmware.Variables.ReadCalls()},
          {Kind::VariableWrite, Blade.Firmware.Variables.WriteCalls()},
          {Kind::LocateProtocol, Blade.Firmware.LocateProtocolCalls()},
          {Kind::LocateHandleBuffer, Blade.Firmware.LocateHandleBufferCalls()},
          {Kind::HandleProtocol, Blade.Firmware.HandleProtocolCalls()}};
}

BootResult Boot(const Scenario& S, const Failure* Fail) {
  sim::ProblemCollector Problems;
  sim::LoadFreshDriverImage();
  BootResult R;
  {
    sim::Blade Blade;
    // The failure first, so that it takes precedence over the scenario's own misbehaviours.
    if (Fail != nullptr) {
      Arm(Blade, *Fail);
    }
    S.Build(Blade);
    R.PowerOn = Devices(Blade.Bmc);
    fuzz::SetFailureHandler(Throw);
    try {
      for (const Step& Step : S.Steps) {
        R.Steps.push_back(Step.Run(Blade));
        R.After.push_back(CountCalls(Blade));
        fuzz::Expect(Blade.Firmware.Pool.LiveCount() == 0,
                     std::to_string(Blade.Firmware.Pool.LiveCount()) + " pool buffers left after " +
                         Step.Name);
        if (!R.Steps.back().Returned) {
          break;
        }
      }
      CheckOracles(S, R, Blade);
    } catch (const OracleFailed& F) {
      R.OracleFailure = F.What;
    }
    fuzz::SetFailureHandler(nullptr);
    R.End = Devices(Blade.Bmc);
    R.Reports = Reports(Blade);
    R.Resets = Blade.Firmware.Resets().size();
    R.Trace = Blade.Bmc.Trace();
    for (UINTN P = 0; P < Blade.Mp.ProcessorCount(); ++P) {
      R.ClockModulation.push_back(Blade.Platform.ProcessorMsr(P, ClockModulationMsr));
    }
    const sim::VariableSpec& List = sim::vars::ClpCommandFruIdList;
    R.FruIdList =
        Blade.Firmware.Variables.Value(List.Name, List.Guid).value_or(std::vector<uint8_t>{});
  }
  sim::LoadFreshDriverImage();
  if (R.OracleFailure.empty() && !Problems.Messages.empty()) {
    R.OracleFailure = "the simulated blade saw misuse: " + Problems.Messages.front();
  }
  return R;
}

size_t StepOf(const BootResult& Clean, Kind K, uint64_t Nth) {
  for (size_t I = 0; I < Clean.After.size(); ++I) {
    if (Nth <= Clean.After[I].at(K)) {
      return I;
    }
  }
  return Clean.After.size();
}

} // namespace sweep
