#include "fuzz/blade_setup.h"

#include <algorithm>
#include <iterator>

#include "mailbox_format/layout.h"
#include "sim/platform_variables.h"

namespace fuzz {
namespace {

namespace mf = mailbox_format;

constexpr uint64_t Millisecond = 1000;
constexpr uint64_t Tick = 100 * Millisecond; // the unit of the input's times and delays
// Every request costs the BMC a millisecond at least, so that a driver that keeps asking runs
// into the watchdog rather than for ever.
constexpr uint64_t BaseRequestCost = Millisecond;
// The longest the design waits on its own is 20 s for a lock; the rest is generous headroom.
constexpr uint64_t DesignWaits = 600ull * 1000 * Millisecond;
// BMC behaviours beyond these are ignored, which keeps the BMC's own delays bounded.
constexpr size_t MaxBmcBehaviours = 64;
constexpr uint8_t MaxBusyRun = 15;
constexpr uint32_t AllOnes = 0xFFFFFFFF;

const sim::VariableSpec& Variable(uint8_t Which) {
  static const sim::VariableSpec* const Variables[] = {
      &sim::vars::TalBladeData, &sim::vars::SystemSetup, &sim::vars::ServerSetup,
      &sim::vars::CLPFailureFlag, &sim::vars::ClpCommandFruIdList};
  return *Variables[Which % 5];
}

EFI_STATUS Status(uint8_t Index) {
  return FuzzStatuses[Index % 16];
}

// The checksum word (the header's last) that makes the 14 big-endian words add up to 0.
void FixChecksum(std::vector<uint8_t>& Device, size_t Header) {
  uint16_t Sum = 0;
  for (size_t I = 0; I < mf::ChecksumWordField; I += 2) {
    Sum = static_cast<uint16_t>(Sum + ((Device[Header + I] << 8) | Device[Header + I + 1]));
  }
  const uint16_t Word = static_cast<uint16_t>(0x10000 - Sum);
  Device[Header + mf::ChecksumWordField] = static_cast<uint8_t>(Word >> 8);
  Device[Header + mf::ChecksumWordField + 1] = static_cast<uint8_t>(Word);
}

void PlaceFru(const FruSection& F, sim::Bmc& Bmc) {
  Bmc.AddFruDevice(F.Id, F.Size, F.Fill);
  std::vector<uint8_t>& Device = Bmc.Fru(F.Id);
  const size_t Header = HeaderOffset(F);
  if (Header >= Device.size()) {
    return;
  }
  const size_t Count = std::min(F.Bytes.size(), Device.size() - Header);
  std::copy(F.Bytes.begin(), F.Bytes.begin() + Count, Device.begin() + Header);
  const bool Signed =
      Header + mf::HeaderSize <= Device.size() &&
      std::equal(std::begin(mf::Signature), std::end(mf::Signature), Device.begin() + Header);
  if (Signed && !F.KeepChecksum) {
    FixChecksum(Device, Header);
  }
}

void Patch(std::vector<uint8_t>& Target, size_t Offset, const std::vector<uint8_t>& Bytes) {
  for (size_t I = 0; I < Bytes.size() && Offset + I < Target.size(); ++I) {
    Target[Offset + I] = Bytes[I];
  }
}

void SetUpVariables(const BladeInput& Input, sim::VariableStore& Store) {
  for (const VariableSection& V : Input.Variables) {
    const sim::VariableSpec& Described = Variable(V.Which);
    Store.Delete(Described.Name, Described.Guid);
    if (V.Present) {
      std::vector<uint8_t> Data(V.Size, 0);
      Patch(Data, 0, V.Bytes);
      Store.Create(Described.Name, Described.Guid,
                   V.Attributes != 0 ? V.Attributes & 7u : Described.Attributes, std::move(Data));
    }
  }
  for (const BytePatch& P : Input.VariablePatches) {
    const sim::VariableSpec& Described = Variable(P.Target);
    if (std::optional<std::vector<uint8_t>> Data = Store.Value(Described.Name, Described.Guid)) {
      Patch(*Data, P.Offset, P.Bytes);
      Store.Create(Described.Name, Described.Guid, Store.Attributes(Described.Name, Described.Guid),
                   std::move(*Data));
    }
  }
  for (const VariableFailure& F : Input.VariableFailures) {
    const sim::VariableSpec& Described = Variable(F.Which);
    const int Times = F.Times == 0 ? -1 : F.Times;
    const unsigned After = F.From > 1 ? F.From - 1u : 0u; // From 0 and 1: the first call on
    if (F.Write) {
      Store.FailSet(Described.Name, Described.Guid, Status(F.Status), Times, After);
    } else {
      Store.FailGet(Described.Name, Described.Guid, Status(F.Status), Times, After);
    }
  }
  for (const AccessFailure& F : Input.AccessFailures) {
    if (F.Nth != 0) {
      Store.FailAccess(F.Nth, Status(F.Status), static_cast<sim::VariableAccess>(F.Kind % 3));
    }
  }
}

void SetUpPlatform(const BladeInput& Input, sim::Blade& Blade) {
  for (const InfoSection& I : Input.Info) {
    Blade.Platform.SetInfo(I.Index, I.Steady);
    for (uint8_t Answer : I.Queue) {
      if (Answer >= 0xF0) {
        Blade.Platform.QueueInfoFailure(I.Index, Status(Answer));
      } else {
        Blade.Platform.QueueInfo(I.Index, Answer);
      }
    }
  }
  Blade.Platform.SetPortValue(sim::AdapterReadyInputPort,
                              (Input.Inputs & 1) != 0 ? AllOnes
                                                      : AllOnes & ~sim::AdapterReadyInputBit);
  Blade.Platform.SetPortValue(sim::AdapterWaitInputPort, (Input.Inputs & 2) != 0
                                                             ? AllOnes
                                                             : AllOnes & ~sim::AdapterWaitInputBit);
  if (Input.AdapterReadyAfter != 0) {
    Blade.Platform.SchedulePortValue(sim::AdapterReadyInputPort, AllOnes,
                                     Input.AdapterReadyAfter * Tick);
  }
  if (Input.HasProcessor) {
    Blade.Platform.SetCpuTopology(Input.ThreadsPerCore,
                                  UINT32{Input.ThreadsPerCore} * Input.CoresPerPackage);
    Blade.Platform.SetCpuidMaxLeaf(Input.MaxCpuidLeaf);
  }
  for (const PoolFailure& F : Input.PoolFailures) {
    if (F.Nth != 0) {
      Blade.Firmware.Pool.FailAllocation(F.Nth, Status(F.Status));
    }
  }
}

// The answer each untruthful kind gives, ShortAnswer to WriteNotStored in order.
sim::FruAnswerFault Untruthful(BmcKind Kind) {
  constexpr sim::FruAnswerFault Answers[] = {
      sim::FruAnswerFault::ShorterThanCount,  sim::FruAnswerFault::LongerThanCount,
      sim::FruAnswerFault::CountAboveRequest, sim::FruAnswerFault::DifferentData,
      sim::FruAnswerFault::LongerThanBuffer,  sim::FruAnswerFault::WriteNotStored};
  static_assert(static_cast<int>(BmcKind::WriteNotStored) -
                        static_cast<int>(BmcKind::ShortAnswer) ==
                    std::size(Answers) - 1,
                "one answer for every untruthful kind");
  return Answers[static_cast<int>(Kind) - static_cast<int>(BmcKind::ShortAnswer)];
}

sim::RequestMatch Request(uint64_t Number) {
  sim::RequestMatch Match;
  Match.Number = Number;
  return Match;
}

// Returns the BMC's own delay, for the watchdog; sets ContentsChange when the BMC writes into a
// device or misreports its contents during the boot.
uint64_t SetUpBehaviour(const BmcBehaviour& B, const std::map<uint8_t, uint16_t>& Headers,
                        sim::Bmc& Bmc, BladeFacts& Facts) {
  const sim::RequestMatch At = Request(B.Request);
  auto Header = Headers.find(B.Fru);
  const bool HasLock = Header != Headers.end() && Bmc.HasFruDevice(B.Fru) &&
                       Header->second + mf::HostLockFlagOffset < Bmc.Fru(B.Fru).size();
  const bool HasByte = Bmc.HasFruDevice(B.Fru) && B.Offset < Bmc.Fru(B.Fru).size();
  switch (B.Kind) {
  case BmcKind::BusyRun:
    for (uint8_t I = 0; I < std::max<uint8_t>(1, std::min(B.Parameter, MaxBusyRun)); ++I) {
      Bmc.InjectCompletion(sim::ipmi::CompletionFruBusy, 1, Request(B.Request + I));
    }
    return 0;
  case BmcKind::Completion:
    Bmc.InjectCompletion(B.Parameter != 0 ? B.Parameter : 0xC0, 1, At);
    return 0;
  case BmcKind::TransportError:
    Bmc.InjectStatus(Status(B.Parameter), 1, At);
    return 0;
  case BmcKind::ShortAnswer:
  case BmcKind::LyingCount:
  case BmcKind::CountAboveRequest:
  case BmcKind::DifferentData:
  case BmcKind::LongerThanBuffer:
  case BmcKind::WriteNotStored:
    Bmc.InjectFruAnswerFault(Untruthful(B.Kind), 1, At);
    Facts.ContentsChange = Facts.ContentsChange || B.Kind == BmcKind::DifferentData;
    return 0;
  case BmcKind::WriteBefore:
    if (HasByte) {
      Bmc.ScheduleFruWriteBefore(At, B.Fru, B.Offset, {B.Value});
      Facts.ContentsChange = true;
    }
    return 0;
  case BmcKind::TakesLock:
  case BmcKind::HandsTurnBack:
  case BmcKind::YieldsWhenAsked:
    if (HasLock) {
      const sim::LockReaction Reaction =
          B.Kind == BmcKind::TakesLock       ? sim::LockReaction::TakeWhileHostHolds
          : B.Kind == BmcKind::HandsTurnBack ? sim::LockReaction::HandTurnBack
                                             : sim::LockReaction::YieldWhenAsked;
      Bmc.ReactToLock(B.Fru, Header->second, Reaction, B.Parameter);
      Facts.ContentsChange = true;
    }
    return 0;
  case BmcKind::HoldsLock:
    if (HasLock) {
      Bmc.HoldMailboxLock(B.Fru, Header->second, B.Parameter * Tick);
      Facts.ContentsChange = true;
    }
    return 0;
  case BmcKind::Slow:
    Bmc.InjectDelay(B.Parameter * Tick, 1, At);
    return B.Parameter * Tick;
  case BmcKind::WriteAtTime:
    if (HasByte) {
      Bmc.ScheduleFruWrite(B.Fru, B.Offset, B.Value, B.Parameter * Tick);
      Facts.ContentsChange = true;
    }
    return 0;
  case BmcKind::Count:
    break;
  }
  return 0;
}

} // namespace

sim::BladeOptions OptionsFor(const BladeInput& Input) {
  sim::BladeOptions Options;
  Options.InstallIpmiTransport = (Input.MissingProtocols & 1) == 0;
  Options.InstallPlatformInfo = (Input.MissingProtocols & 2) == 0;
  Options.InstallStatusCode = (Input.MissingProtocols & 4) == 0;
  Options.InstallSmbiosEdit = (Input.MissingProtocols & 8) == 0;
  return Options;
}

BladeFacts SetUp(const BladeInput& Input, sim::Blade& Blade) {
  BladeFacts Facts;
  Facts.CompletionSignal = Input.CompletionSignal;
  std::map<uint8_t, uint16_t> Headers;
  for (const FruSection& F : Input.Frus) {
    PlaceFru(F, Blade.Bmc);
    Headers[F.Id] = HeaderOffset(F);
  }
  for (const BytePatch& P : Input.FruPatches) {
    if (Blade.Bmc.HasFruDevice(P.Target)) {
      Patch(Blade.Bmc.Fru(P.Target), P.Offset, P.Bytes);
    }
  }
  SetUpVariables(Input, Blade.Firmware.Variables);
  SetUpPlatform(Input, Blade);

  uint64_t BmcDelays = 0;
  for (size_t I = 0; I < Input.Bmc.size() && I < MaxBmcBehaviours; ++I) {
    BmcDelays += SetUpBehaviour(Input.Bmc[I], Headers, Blade.Bmc, Facts);
  }
  Blade.Bmc.SetRequestCost(BaseRequestCost + Input.RequestCost * (Tick / 1000));
  Blade.Firmware.Clock.SetWatchdog(DesignWaits + BmcDelays);
  return Facts;
}

} // namespace fuzz
