#include "tools/sim_run.h"

#include <chrono>

#include "core/ipmi.h"
#include "hw/hw.h"
#include "sim/problems.h"

namespace tools {

namespace {

constexpr UINT32 AllOnes = 0xFFFFFFFF;

std::vector<std::string>* ProblemSink = nullptr;
void CollectProblem(const std::string& Message) {
  ProblemSink->push_back(Message);
}

// Collects the blade's problem reports for the lifetime of one run.
class ProblemCollector {
public:
  explicit ProblemCollector(std::vector<std::string>& Sink)
      : Previous_(sim::SetProblemHandler(CollectProblem)) {
    ProblemSink = &Sink;
  }
  ~ProblemCollector() {
    sim::SetProblemHandler(Previous_);
    ProblemSink = nullptr;
  }
  ProblemCollector(const ProblemCollector&) = delete;
  ProblemCollector& operator=(const ProblemCollector&) = delete;

private:
  sim::ProblemHandler Previous_;
};

void SetUpBlade(sim::Blade& Blade, const Scenario& S) {
  for (const FruDeviceSetup& Fru : S.Frus) {
    Blade.Bmc.AddFruDevice(Fru.Id, Fru.Bytes.size());
    Blade.Bmc.Fru(Fru.Id) = Fru.Bytes;
  }
  sim::VariableStore& Store = Blade.Firmware.Variables;
  for (const VariableSetup& V : S.Variables) {
    Store.Delete(V.Var->Var->Name, V.Var->Var->Guid);
    if (V.Data) {
      Store.Create(V.Var->Var->Name, V.Var->Var->Guid, V.Var->Var->Attributes, *V.Data);
    }
  }
  for (const auto& [Index, Value] : S.PlatformInfo) {
    Blade.Platform.SetInfo(Index, Value);
  }
  for (const auto& [Index, Status] : S.PlatformInfoFailures) {
    Blade.Platform.FailInfo(Index, Status);
  }
  if (S.AdapterReady) {
    Blade.Platform.SetPortValue(sim::AdapterReadyInputPort,
                                *S.AdapterReady ? AllOnes : AllOnes & ~sim::AdapterReadyInputBit);
  }
  if (S.AdapterReadyAtMicroseconds) {
    Blade.Platform.SchedulePortValue(sim::AdapterReadyInputPort, AllOnes,
                                     *S.AdapterReadyAtMicroseconds);
  }
  if (S.WaitEnable) {
    Blade.Platform.SetPortValue(sim::AdapterWaitInputPort,
                                *S.WaitEnable ? AllOnes : AllOnes & ~sim::AdapterWaitInputBit);
  }
  if (S.ThreadsPerCore) {
    Blade.Platform.SetCpuTopology(*S.ThreadsPerCore, *S.ThreadsPerCore * *S.CoresPerPackage);
  }
  for (const AnswerSetup& A : S.Answers) {
    Blade.Bmc.InjectCompletion(A.Code, A.Times, A.Match);
  }
  for (const LockSetup& L : S.Locks) {
    Blade.Bmc.HoldMailboxLock(L.Fru, L.HeaderOffset, L.UntilMicroseconds);
  }
  for (const BmcWriteSetup& W : S.BmcWrites) {
    Blade.Bmc.ScheduleFruWrite(W.Fru, W.Offset, W.Value, W.AtMicroseconds);
  }
}

std::array<uint8_t, sim::MailboxLockBytes> LockBytes(const std::vector<uint8_t>& Fru, UINT16 H) {
  const size_t At = H + sizeof(MailboxHeader);
  return {Fru[At], Fru[At + 1], Fru[At + 2]};
}

bool IsFruRequest(const sim::IpmiRequest& R, UINT8 Cmd) {
  return R.NetFn == IpmiNetFnStorage && R.Cmd == Cmd && R.Data.size() >= 3;
}

UINT16 RequestOffset(const sim::IpmiRequest& R) {
  return static_cast<UINT16>(R.Data[1] | (R.Data[2] << 8));
}

// The host reads a command's two id bytes once for every execution (a retry reads them again).
unsigned Executions(const std::vector<sim::IpmiRequest>& Trace, UINT8 Fru, UINT16 Offset) {
  unsigned Count = 0;
  for (const sim::IpmiRequest& R : Trace) {
    if (IsFruRequest(R, IpmiCmdReadFruData) && !EFI_ERROR(R.Status) && R.Data[0] == Fru &&
        RequestOffset(R) == Offset && R.Data.size() == 4 && R.Data[3] == 2) {
      ++Count;
    }
  }
  return Count;
}

// The last six-byte record the host wrote at Offset, from the trace (for a record 0 that the
// OverflowMarker covered afterwards).
std::optional<sim::ResultRecordValue> WrittenRecord(const std::vector<sim::IpmiRequest>& Trace,
                                                    UINT8 Fru, UINT16 Offset) {
  std::optional<sim::ResultRecordValue> Found;
  for (const sim::IpmiRequest& R : Trace) {
    if (IsFruRequest(R, IpmiCmdWriteFruData) && !EFI_ERROR(R.Status) && R.Data[0] == Fru &&
        RequestOffset(R) == Offset && R.Data.size() == 3 + ResultRecordSize) {
      const uint8_t* B = R.Data.data() + 3;
      Found = sim::ResultRecordValue{static_cast<UINT16>((B[0] << 8) | B[1]),
                                     static_cast<UINT32>(B[2] | (B[3] << 8) | (B[4] << 16) |
                                                         (static_cast<UINT32>(B[5]) << 24))};
    }
  }
  return Found;
}

std::optional<sim::ResultRecordValue> RecordAt(const std::vector<uint8_t>& Fru, UINT16 R,
                                               UINT8 List, size_t Index) {
  if (R == 0 || Index >= sim::ResultRecordsPerList || R + sim::ResultAreaSize > Fru.size()) {
    return std::nullopt;
  }
  const size_t At = ResultRecordOffset(R, List, static_cast<UINT8>(Index));
  const uint8_t* B = Fru.data() + At;
  if (std::all_of(B, B + ResultRecordSize, [](uint8_t V) { return V == 0xFF; })) {
    return std::nullopt;
  }
  return sim::ResultRecordValue{
      static_cast<UINT16>((B[0] << 8) | B[1]),
      static_cast<UINT32>(B[2] | (B[3] << 8) | (B[4] << 16) | (static_cast<UINT32>(B[5]) << 24))};
}

std::string Meaning(const CommandOutcome& C, bool PlatformList, bool Overflow, bool Covered) {
  if (C.Index >= MailboxCommandsPerList) {
    return Overflow ? "not run: past the 32 commands of a list (OverflowMarker written)"
                    : "not run: past the 32 commands of a list";
  }
  if (C.Executions == 0) {
    return C.Record ? "not run (record left from before)" : "not run";
  }
  if (!C.Record) {
    return PlatformList ? "no record (not a platform command)" : "no record";
  }
  std::string Text = sim::StatusWordName(C.Record->Status);
  if (C.Executions > 1) {
    Text +=
        ", retried " + std::to_string(C.Executions - 1) + (C.Executions == 2 ? " time" : " times");
  }
  if (Covered) {
    Text += " (its record since covered by the OverflowMarker)";
  }
  return Text;
}

MailboxOutcome DescribeMailbox(UINT8 Fru, bool Platform, const sim::DecodedMailbox& Initial,
                               const std::vector<uint8_t>& AfterEntry,
                               const std::vector<uint8_t>& AtEnd,
                               const std::vector<sim::IpmiRequest>& Trace) {
  MailboxOutcome M;
  M.Fru = Fru;
  M.Platform = Platform;
  M.HeaderOffset = Initial.Image.HeaderOffset;
  M.ResultAreaOffset = Initial.Image.ResultAreaOffset.value_or(0);
  M.LockBefore = Initial.Image.Lock;
  M.LockAfterEntry = LockBytes(AfterEntry, M.HeaderOffset);
  M.LockAtEnd = LockBytes(AtEnd, M.HeaderOffset);
  const sim::DecodedMailbox Final = sim::DecodeMailboxImage(AtEnd);
  for (const sim::DecodedList& L : Final.Lists) {
    if (L.Overflow) {
      M.OverflowLists.push_back(L.Number);
    }
  }
  for (const sim::DecodedList& L : Initial.Lists) {
    const bool Overflow = std::find(M.OverflowLists.begin(), M.OverflowLists.end(), L.Number) !=
                          M.OverflowLists.end();
    const auto& Commands = Initial.Image.Lists[L.Number]->Commands;
    for (size_t I = 0; I < Commands.size(); ++I) {
      CommandOutcome C{L.Number, I, Commands[I].Id, Commands[I].Text, 0, std::nullopt, ""};
      bool Covered = false;
      if (I < MailboxCommandsPerList) {
        C.Executions = Executions(Trace, Fru, L.CommandOffsets[I]);
        C.Record = RecordAt(AtEnd, M.ResultAreaOffset, L.Number, I);
        if (I == 0 && Overflow) {
          C.Record = WrittenRecord(Trace, Fru, ResultRecordOffset(M.ResultAreaOffset, L.Number, 0));
          Covered = C.Record.has_value();
        }
      }
      C.Meaning = Meaning(C, Platform && L.Number == 0, Overflow, Covered);
      M.Commands.push_back(std::move(C));
    }
  }
  return M;
}

IpmiCounts CountRequests(const std::vector<sim::IpmiRequest>& Trace) {
  IpmiCounts Counts;
  for (const sim::IpmiRequest& R : Trace) {
    ++Counts.Requests;
    if (IsFruRequest(R, IpmiCmdReadFruData)) {
      ++Counts.FruReads;
    } else if (IsFruRequest(R, IpmiCmdWriteFruData)) {
      ++Counts.FruWrites;
    } else {
      ++Counts.Other;
    }
    if (R.Status == EFI_DEVICE_ERROR && R.CompletionCode == IpmiCompletionFruBusy) {
      ++Counts.BusyRetried;
    } else if (EFI_ERROR(R.Status)) {
      ++Counts.Failed;
    }
  }
  return Counts;
}

// The platform mailbox's FRU device, chosen as the driver chooses it.
UINT8 PlatformFru(const Scenario& S) {
  auto It = S.PlatformInfo.find(30);
  return It != S.PlatformInfo.end() && It->second != 0 ? 2 : 1;
}

} // namespace

RunOutcome RunScenario(const Scenario& S) {
  RunOutcome Out;
  Out.Scenario = S.Name;
  Out.Description = S.Description;
  ProblemCollector Problems(Out.Problems);
  const auto RealStart = std::chrono::steady_clock::now();
  {
    sim::Blade Blade;
    SetUpBlade(Blade, S);
    std::vector<std::pair<UINT8, sim::DecodedMailbox>> Mailboxes;
    for (const FruDeviceSetup& Fru : S.Frus) {
      try {
        // As the BMC holds it at power-on, its lock included.
        Mailboxes.emplace_back(Fru.Id, sim::DecodeMailboxImage(Blade.Bmc.ReadFru(
                                           Fru.Id, 0, Blade.Bmc.Fru(Fru.Id).size())));
      } catch (const sim::MailboxFormatError&) {
        // A device without a mailbox has no commands to report.
      }
    }
    const VariableSnapshot Before = TakeSnapshot(Blade.Firmware.Variables);
    const uint64_t Start = Blade.Firmware.Clock.Now();

    Out.Entry = Blade.LoadDriver();
    std::map<UINT8, std::vector<uint8_t>> AfterEntry;
    for (const auto& [Id, Decoded] : Mailboxes) {
      AfterEntry[Id] = Blade.Bmc.ReadFru(Id, 0, Blade.Bmc.Fru(Id).size());
    }
    if (S.CompletionSignal && !Blade.ResetRequested() && !Out.Entry.Hang) {
      Out.Completion = Blade.InstallCompletionSignal();
    }

    Out.VirtualMicroseconds = Blade.Firmware.Clock.Now() - Start;
    Out.Stalls = Blade.Firmware.Stalls().size();
    Out.Trace = Blade.Bmc.Trace();
    Out.Ipmi = CountRequests(Out.Trace);
    Out.Changes = CompareSnapshots(Before, TakeSnapshot(Blade.Firmware.Variables));
    Out.StatusCodes = Blade.Platform.StatusCodes();
    Out.Resets = Blade.Firmware.Resets();
    for (const auto& [Id, Decoded] : Mailboxes) {
      Out.Mailboxes.push_back(DescribeMailbox(Id, Id == PlatformFru(S), Decoded, AfterEntry[Id],
                                              Blade.Bmc.ReadFru(Id, 0, Blade.Bmc.Fru(Id).size()),
                                              Out.Trace));
    }
  }
  Out.RealMilliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - RealStart)
          .count();
  return Out;
}

} // namespace tools
