#include "tools/sim_run.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "sim/problems.h"
#include "tools/blade_recorder.h"
#include "tools/scenario_steps.h"

namespace tools {

namespace {

namespace mf = mailbox_format;

constexpr UINT32 AllOnes = 0xFFFFFFFF;

void SetUpBmc(sim::Bmc& Bmc, const Scenario& S) {
  for (const AnswerSetup& A : S.Answers) {
    switch (A.What) {
    case AnswerSetup::Completion:
      Bmc.InjectCompletion(A.Code, A.Times, A.Match);
      break;
    case AnswerSetup::TransportFailure:
      Bmc.InjectStatus(A.Status, A.Times, A.Match);
      break;
    case AnswerSetup::Untruthful:
      Bmc.InjectFruAnswerFault(A.Fault, A.Times, A.Match);
      break;
    case AnswerSetup::Delay:
      Bmc.InjectDelay(A.DelayMicroseconds, A.Times, A.Match);
      break;
    }
  }
  Bmc.SetRequestCost(S.RequestCostMicroseconds);
  for (const LockSetup& L : S.Locks) {
    if (L.Reaction) {
      Bmc.ReactToLock(L.Fru, L.HeaderOffset, *L.Reaction, L.AfterRequests);
    } else {
      Bmc.HoldMailboxLock(L.Fru, L.HeaderOffset, L.UntilMicroseconds);
    }
  }
  for (const BmcWriteSetup& W : S.BmcWrites) {
    if (W.Before) {
      Bmc.ScheduleFruWriteBefore(*W.Before, W.Fru, W.Offset, W.Bytes);
      continue;
    }
    for (size_t I = 0; I < W.Bytes.size(); ++I) {
      Bmc.ScheduleFruWrite(W.Fru, static_cast<UINT16>(W.Offset + I), W.Bytes[I], W.AtMicroseconds);
    }
  }
}

void SetUpFirmware(sim::Firmware& Firmware, const Scenario& S) {
  for (const PoolFailureSetup& F : S.PoolFailures) {
    Firmware.Pool.FailAllocation(F.Nth, F.Status);
  }
  for (const VariableFailureSetup& F : S.VariableFailures) {
    if (F.Var == nullptr) {
      Firmware.Variables.FailAccess(F.Nth, F.Status, F.Kind);
    } else if (F.Kind == sim::VariableAccess::Read) {
      Firmware.Variables.FailGet(F.Var->Var->Name, F.Var->Var->Guid, F.Status, F.Times, F.Nth - 1);
    } else {
      Firmware.Variables.FailSet(F.Var->Var->Name, F.Var->Var->Guid, F.Status, F.Times, F.Nth - 1);
    }
  }
}

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
  if (S.MaxCpuidLeaf) {
    Blade.Platform.SetCpuidMaxLeaf(*S.MaxCpuidLeaf);
  }
  for (const auto& [Index, Answers] : S.PlatformInfoSequences) {
    for (const InfoAnswerSetup& A : Answers) {
      if (EFI_ERROR(A.Status)) {
        Blade.Platform.QueueInfoFailure(Index, A.Status);
      } else {
        Blade.Platform.QueueInfo(Index, A.Value);
      }
    }
  }
  SetUpAdapters(Blade, S.Adapters);
  SetUpBmc(Blade.Bmc, S);
  SetUpFirmware(Blade.Firmware, S);
}

std::array<uint8_t, mf::MailboxLockBytes> LockBytes(const std::vector<uint8_t>& Fru, UINT16 H) {
  const size_t At = H + mf::LockTurnOffset;
  return {Fru[At], Fru[At + 1], Fru[At + 2]};
}

bool IsFruRequest(const sim::IpmiRequest& R, UINT8 Cmd) {
  return R.NetFn == sim::ipmi::NetFnStorage && R.Cmd == Cmd && R.Data.size() >= 3;
}

UINT16 RequestOffset(const sim::IpmiRequest& R) {
  return static_cast<UINT16>(R.Data[1] | (R.Data[2] << 8));
}

// The host reads a command's two id bytes once for every execution (a retry reads them again), and
// an adapter run once for every adapter it serves from the mailbox. Counts the first End requests.
unsigned Executions(const std::vector<sim::IpmiRequest>& Trace, size_t End, UINT8 Fru,
                    UINT16 Offset) {
  unsigned Count = 0;
  for (size_t I = 0; I < End && I < Trace.size(); ++I) {
    const sim::IpmiRequest& R = Trace[I];
    if (IsFruRequest(R, sim::ipmi::CmdReadFruData) && !EFI_ERROR(R.Status) && R.Data[0] == Fru &&
        RequestOffset(R) == Offset && R.Data.size() == 4 && R.Data[3] == 2) {
      ++Count;
    }
  }
  return Count;
}

// The last six-byte record the host wrote at Offset, from the trace (for a record 0 that the
// OverflowMarker covered afterwards).
std::optional<mf::ResultRecordValue> WrittenRecord(const std::vector<sim::IpmiRequest>& Trace,
                                                   UINT8 Fru, UINT16 Offset) {
  std::optional<mf::ResultRecordValue> Found;
  for (const sim::IpmiRequest& R : Trace) {
    if (IsFruRequest(R, sim::ipmi::CmdWriteFruData) && !EFI_ERROR(R.Status) && R.Data[0] == Fru &&
        RequestOffset(R) == Offset && R.Data.size() == 3 + mf::ResultRecordSize) {
      Found = mf::DecodeResultRecord(R.Data.data() + 3);
    }
  }
  return Found;
}

// The text the host read after it last read the command's id at Offset among the first End
// requests: the chunks that followed, up to the NUL. Unset when it did not read the whole text.
std::optional<std::string> TextAsRead(const std::vector<sim::IpmiRequest>& Trace, size_t End,
                                      UINT8 Fru, UINT16 Offset) {
  auto IsRead = [Fru](const sim::IpmiRequest& R, UINT16 At, UINT8 Count) {
    return IsFruRequest(R, sim::ipmi::CmdReadFruData) && !EFI_ERROR(R.Status) && R.Data[0] == Fru &&
           R.Data.size() == 4 && RequestOffset(R) == At && R.Data[3] == Count &&
           R.Response.size() == Count + 1u;
  };
  End = std::min(End, Trace.size());
  size_t Request = End;
  for (size_t I = 0; I < End; ++I) {
    Request = IsRead(Trace[I], Offset, 2) ? I : Request;
  }
  std::string Text;
  UINT16 Next = static_cast<UINT16>(Offset + 2);
  for (size_t I = Request + 1; I < End && Text.size() < 256; ++I) {
    const sim::IpmiRequest& R = Trace[I];
    if (R.Status == EFI_DEVICE_ERROR && R.CompletionCode == sim::ipmi::CompletionFruBusy) {
      continue; // the same chunk is asked for again
    }
    if (!IsRead(R, Next, 16)) {
      return std::nullopt;
    }
    for (size_t B = 1; B < R.Response.size(); ++B) {
      if (R.Response[B] == 0) {
        return Text;
      }
      Text += static_cast<char>(R.Response[B]);
    }
    Next = static_cast<UINT16>(Next + 16);
  }
  return std::nullopt;
}

std::optional<mf::ResultRecordValue> RecordAt(const std::vector<uint8_t>& Fru, UINT16 R, UINT8 List,
                                              size_t Index) {
  if (R == 0 || Index >= mf::ResultRecordsPerList || R + mf::ResultAreaSize > Fru.size()) {
    return std::nullopt;
  }
  const size_t At = mf::ResultRecordOffset(R, List, static_cast<UINT8>(Index));
  if (mf::RecordUnwritten(Fru.data() + At)) {
    return std::nullopt;
  }
  return mf::DecodeResultRecord(Fru.data() + At);
}

// Whether the host takes a line for a platform command: "SET BOOTCFGSETTING1 " or "SET B1 " in any
// case, and not "SET N".
bool IsPlatformLine(const std::string& Text) {
  auto StartsWith = [&Text](const std::string& Prefix) {
    return Text.size() >= Prefix.size() &&
           std::equal(Prefix.begin(), Prefix.end(), Text.begin(), [](char P, char T) {
             return std::toupper(static_cast<unsigned char>(T)) == P;
           });
  };
  return StartsWith("SET BOOTCFGSETTING1 ") || StartsWith("SET B1 ");
}

std::string Meaning(const CommandOutcome& C, bool PlatformList, bool Overflow, bool Covered) {
  if (C.Index >= mf::MailboxCommandsPerList) {
    return Overflow ? "not run: past the 32 commands of a list (OverflowMarker written)"
                    : "not run: past the 32 commands of a list";
  }
  if (C.Executions == 0) {
    return C.Record ? "not run (record left from before)" : "not run";
  }
  if (!C.Record) {
    if (!PlatformList) {
      return "no record (sent to no adapter)";
    }
    return IsPlatformLine(C.TextAsRead.value_or(C.Text))
               ? "no record (the pass stopped before writing it)"
               : "no record (not a platform command)";
  }
  std::string Text = mf::StatusWordName(C.Record->Status);
  if (C.Executions > 1 && PlatformList) {
    Text +=
        ", retried " + std::to_string(C.Executions - 1) + (C.Executions == 2 ? " time" : " times");
  } else if (C.Executions > 1) {
    Text += ", read in " + std::to_string(C.Executions) + " adapter passes";
  }
  if (Covered) {
    Text += " (its record since covered by the OverflowMarker)";
  }
  return Text;
}

MailboxOutcome DescribeMailbox(UINT8 Fru, bool Platform, const mf::DecodedMailbox& Initial,
                               const std::vector<uint8_t>& AfterEntry,
                               const std::vector<uint8_t>& AtEnd,
                               const std::vector<sim::IpmiRequest>& Trace, size_t EntryRequests) {
  MailboxOutcome M;
  M.Fru = Fru;
  M.Platform = Platform;
  M.HeaderOffset = Initial.Image.HeaderOffset;
  M.ResultAreaOffset = Initial.Image.ResultAreaOffset.value_or(0);
  M.LockBefore = Initial.Image.Lock;
  M.LockAfterEntry = LockBytes(AfterEntry, M.HeaderOffset);
  M.LockAtEnd = LockBytes(AtEnd, M.HeaderOffset);
  const mf::DecodedMailbox Final = mf::DecodeMailboxImage(AtEnd);
  for (const mf::DecodedList& L : Final.Lists) {
    if (L.Overflow) {
      M.OverflowLists.push_back(L.Number);
    }
  }
  for (const mf::DecodedList& L : Initial.Lists) {
    const bool Overflow = std::find(M.OverflowLists.begin(), M.OverflowLists.end(), L.Number) !=
                          M.OverflowLists.end();
    const auto& Commands = Initial.Image.Lists[L.Number]->Commands;
    for (size_t I = 0; I < Commands.size(); ++I) {
      CommandOutcome C{L.Number,     I,  Commands[I].Id, Commands[I].Text, 0,
                       std::nullopt, "", std::nullopt};
      // The platform pass runs list 0 of the platform's mailbox during the entry; adapter runs may
      // read it again later.
      const bool PlatformList = Platform && L.Number == 0;
      bool Covered = false;
      if (I < mf::MailboxCommandsPerList) {
        C.Executions = Executions(Trace, PlatformList ? EntryRequests : Trace.size(), Fru,
                                  L.CommandOffsets[I]);
        C.TextAsRead = TextAsRead(Trace, PlatformList ? EntryRequests : Trace.size(), Fru,
                                  L.CommandOffsets[I]);
        if (C.TextAsRead == C.Text) {
          C.TextAsRead.reset();
        }
        C.Record = RecordAt(AtEnd, M.ResultAreaOffset, L.Number, I);
        if (I == 0 && Overflow) {
          C.Record =
              WrittenRecord(Trace, Fru, mf::ResultRecordOffset(M.ResultAreaOffset, L.Number, 0));
          Covered = C.Record.has_value();
        }
      }
      C.Meaning = Meaning(C, PlatformList, Overflow, Covered);
      M.Commands.push_back(std::move(C));
    }
  }
  return M;
}

IpmiCounts CountRequests(const std::vector<sim::IpmiRequest>& Trace) {
  IpmiCounts Counts;
  for (const sim::IpmiRequest& R : Trace) {
    ++Counts.Requests;
    if (IsFruRequest(R, sim::ipmi::CmdReadFruData)) {
      ++Counts.FruReads;
    } else if (IsFruRequest(R, sim::ipmi::CmdWriteFruData)) {
      ++Counts.FruWrites;
    } else {
      ++Counts.Other;
    }
    if (R.Status == EFI_DEVICE_ERROR && R.CompletionCode == sim::ipmi::CompletionFruBusy) {
      ++Counts.BusyRetried;
    } else if (EFI_ERROR(R.Status)) {
      ++Counts.Failed;
    }
  }
  return Counts;
}

// The platform mailbox's FRU device, chosen as the driver chooses it at its entry.
UINT8 PlatformFru(const Scenario& S) {
  UINT64 Answer = 0;
  auto Sequence = S.PlatformInfoSequences.find(30);
  auto Steady = S.PlatformInfo.find(30);
  if (Sequence != S.PlatformInfoSequences.end() && !Sequence->second.empty()) {
    Answer = Sequence->second.front().Value;
  } else if (Steady != S.PlatformInfo.end()) {
    Answer = Steady->second;
  }
  return Answer != 0 ? 2 : 1;
}

} // namespace

RunOutcome RunScenario(const Scenario& S) {
  RunOutcome Out;
  Out.Scenario = S.Name;
  Out.Description = S.Description;
  sim::ProblemCollector Problems;
  const auto RealStart = std::chrono::steady_clock::now();
  {
    // The recorder stands in as the transport, so that the records of the blade can be put in
    // order; it passes every request on to the BMC. A blade without the transport goes without the
    // recorder too.
    sim::BladeOptions Options = S.Options;
    Options.InstallIpmiTransport = false;
    Options.InstallMpServices = S.Options.InstallMpServices && S.Adapters.Mp.Present;
    sim::Blade Blade(Options);
    BladeRecorder Recorder(Blade, S.Adapters.WaitAnswers);
    if (S.Options.InstallIpmiTransport) {
      Recorder.Install();
    }
    SetUpBlade(Blade, S);
    std::vector<std::pair<UINT8, mf::DecodedMailbox>> Mailboxes;
    for (const FruDeviceSetup& Fru : S.Frus) {
      try {
        // As the BMC holds it at power-on, its lock included.
        Mailboxes.emplace_back(Fru.Id, mf::DecodeMailboxImage(Blade.Bmc.ReadFru(
                                           Fru.Id, 0, Blade.Bmc.Fru(Fru.Id).size())));
      } catch (const mf::MailboxFormatError&) {
        // A device without a mailbox has no commands to report.
      }
    }
    const VariableSnapshot Before = TakeSnapshot(Blade.Firmware.Variables);
    const uint64_t Start = Blade.Firmware.Clock.Now();
    StepRecorder Steps(Blade);

    Out.Entry = Steps.Run("entry", [&] { return Blade.LoadDriver(); }).Outcome;
    std::map<UINT8, std::vector<uint8_t>> AfterEntry;
    for (const auto& [Id, Decoded] : Mailboxes) {
      AfterEntry[Id] = Blade.Bmc.ReadFru(Id, 0, Blade.Bmc.Fru(Id).size());
    }
    const size_t EntryRequests = Blade.Bmc.TraceSize();
    ScheduledSteps Scheduled =
        RunScheduledSteps(Blade, Recorder, S, Out.Entry.Hang || Out.Entry.Reset, Steps);
    Out.Arrivals = std::move(Scheduled.Arrivals);
    Out.Completion = Scheduled.Completion;
    Out.CompletionDue = S.CompletionSignal;

    Out.Steps = std::move(Steps.Steps);
    Out.VirtualMicroseconds = Blade.Firmware.Clock.Now() - Start;
    Out.Stalls = Blade.Firmware.Stalls().size();
    Out.Trace = Blade.Bmc.Trace();
    Out.Ipmi = CountRequests(Out.Trace);
    Out.Changes = CompareSnapshots(Before, TakeSnapshot(Blade.Firmware.Variables));
    Out.StatusCodes = Blade.Platform.StatusCodes();
    Out.Resets = Blade.Firmware.Resets();
    for (UINT8 Id : Blade.Bmc.FruIds()) {
      Out.FrusAtEnd[Id] = Blade.Bmc.ReadFru(Id, 0, Blade.Bmc.Fru(Id).size());
    }
    for (const auto& [Id, Decoded] : Mailboxes) {
      Out.Mailboxes.push_back(DescribeMailbox(Id, Id == PlatformFru(S), Decoded, AfterEntry[Id],
                                              Out.FrusAtEnd[Id], Out.Trace, EntryRequests));
    }
  }
  Out.Problems = std::move(Problems.Messages);
  Out.RealMilliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - RealStart)
          .count();
  return Out;
}

} // namespace tools
