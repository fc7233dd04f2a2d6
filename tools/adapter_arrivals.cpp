#include "tools/adapter_arrivals.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "adapter/slot_table.h"
#include "mailbox_format/layout.h"
#include "sim/ipmi_codes.h"
#include "tools/report.h"

namespace tools {

namespace {

namespace mf = mailbox_format;

constexpr UINT16 ConfigAddressPort = 0xCF8;
constexpr UINT16 ConfigDataPort = 0xCFC;
constexpr UINT32 ConfigEnable = 0x80000000u;
constexpr UINT32 NoFunction = 0xFFFFFFFFu;
constexpr UINT8 CmdOemWait = 0x30;
constexpr UINT8 CmdOemUuid = 0x41;
constexpr size_t TextBuffer = 256; // what the host reads a command text into

// The positions that are the third and fourth port of their slot when they sit at functions 0
// and 1 of a second device.
constexpr UINT32 ThirdAndFourthPorts[] = {0x100, 0x200, 0x40000, 0x80000};

bool IsFru(const sim::IpmiRequest& R, UINT8 Cmd) {
  return R.NetFn == sim::ipmi::NetFnStorage && R.Cmd == Cmd && R.Data.size() >= 3 &&
         !EFI_ERROR(R.Status);
}

UINT16 OffsetOf(const sim::IpmiRequest& R) {
  return static_cast<UINT16>(R.Data[1] | (R.Data[2] << 8));
}

UINT16 Be16(const std::vector<uint8_t>& Bytes) {
  return Bytes.size() >= 2 ? static_cast<UINT16>(Bytes[0] << 8 | Bytes[1]) : 0;
}

bool StartsWithNoCase(const std::string& Text, const char* Prefix) {
  const size_t N = std::strlen(Prefix);
  if (Text.size() < N) {
    return false;
  }
  for (size_t I = 0; I < N; ++I) {
    if (std::toupper(static_cast<unsigned char>(Text[I])) != Prefix[I]) {
      return false;
    }
  }
  return true;
}

// The port a command names: "SET NETPORTd " or the short "SET Nd " (d from 1 to 7).
std::optional<unsigned> PortOf(const std::string& Text) {
  size_t Digit = 0;
  if (StartsWithNoCase(Text, "SET NETPORT")) {
    Digit = 11;
  } else if (StartsWithNoCase(Text, "SET N") && Text.size() > 6 && Text[6] == ' ') {
    Digit = 5;
  } else {
    return std::nullopt;
  }
  if (Text.size() <= Digit || Text[Digit] < '1' || Text[Digit] > '7') {
    return std::nullopt;
  }
  return static_cast<unsigned>(Text[Digit] - '0');
}

bool IsPlatformSetting(const std::string& Text) {
  return StartsWithNoCase(Text, "SET BOOTCFGSETTING1 ") || StartsWithNoCase(Text, "SET B1 ");
}

// The port number an adapter function answers to, for the vendors whose commands are filtered by
// port: 0x8086 numbers ports from 1 (from 3 for the third and fourth port of a slot that sit on a
// second device), 0x14E4 by function from 1.
std::optional<unsigned> ServedPort(UINT16 Vendor, size_t Function, UINT32 PendingBit) {
  if (Vendor == 0x14E4) {
    return static_cast<unsigned>(Function + 1);
  }
  if (Vendor == 0x8086) {
    const bool Second = std::find(std::begin(ThirdAndFourthPorts), std::end(ThirdAndFourthPorts),
                                  PendingBit) != std::end(ThirdAndFourthPorts);
    return static_cast<unsigned>(Function + (Second && Function <= 1 ? 3 : 1));
  }
  return std::nullopt;
}

std::optional<uint32_t> BladeField(const VariableSnapshot& Snapshot, const char* Field) {
  for (const VariableSnapshot::Entry& E : Snapshot.Entries) {
    if (std::string(E.Var->Label) == "TalBladeData" && E.Data) {
      const VariableField* F = FindField(*E.Var, Field);
      return F != nullptr ? std::optional<uint32_t>(ReadNumber(*E.Data, F->Offset, F->Size))
                          : std::nullopt;
    }
  }
  return std::nullopt;
}

std::string PendingMaskField(UINT16 Vendor) {
  return Vendor == 0x8086 || Vendor == 0x10DF || Vendor == 0x14E4
             ? "PendingMask" + HexNumber(Vendor, 4).substr(2)
             : "";
}

// The walk through one step's records in the order they were made.
class ArrivalWalk {
public:
  ArrivalWalk(const Scenario& S, size_t Driver, const StepRecords& Step, ArrivalOutcome& Out)
      : S_(S), Driver_(Driver), Step_(Step), Out_(Out) {}

  void Run() {
    RecordMarks From = Step_.Begin;
    for (size_t R = Step_.Begin.Requests; R < Step_.End.Requests; ++R) {
      Gap(From, Step_.BeforeRequest[R]);
      From = Step_.BeforeRequest[R];
      Request(Step_.Trace[R]);
    }
    Gap(From, Step_.End);
    CloseCommand(true);
  }

private:
  AdapterPass* Pass() { return Out_.Passes.empty() ? nullptr : &Out_.Passes.back(); }
  AdapterCommandOutcome* Command() {
    return Pass() != nullptr && HasCommand_ ? &Pass()->Commands.back() : nullptr;
  }

  void Gap(const RecordMarks& From, const RecordMarks& To) {
    const auto& Pci = Step_.Blade.Pci.PortAccesses();
    for (size_t I = From.PciPorts; I < To.PciPorts; ++I) {
      PciAccess(Pci[I]);
    }
    const auto& Ports = Step_.Blade.Platform.PortAccesses();
    for (size_t I = From.PlatformPorts; I < To.PlatformPorts; ++I) {
      InputRead(Ports[I]);
    }
    for (size_t D = 0; D < To.ExecuteCalls.size(); ++D) {
      const size_t First = D < From.ExecuteCalls.size() ? From.ExecuteCalls[D] : 0;
      const auto& Calls = Step_.Blade.Adapters[D].Calls();
      for (size_t I = First; I < To.ExecuteCalls[D]; ++I) {
        Execute(D, Calls[I]);
      }
    }
  }

  // The last adapter function whose identity the driver read: the adapter it serves next.
  void PciAccess(const sim::PciPortAccess& A) {
    if (A.Write && A.Port == ConfigAddressPort && A.Width == 32) {
      Latch_ = A.Value;
    } else if (!A.Write && A.Port == ConfigDataPort && A.Width == 32 && (Latch_ & ConfigEnable) &&
               (Latch_ & 0xFC) == 0 && A.Value != NoFunction) {
      Identity_ = sim::PciAddress(static_cast<UINT8>(Latch_ >> 16),
                                  static_cast<UINT8>((Latch_ >> 11) & 0x1F),
                                  static_cast<UINT8>((Latch_ >> 8) & 7));
    }
  }

  void InputRead(const sim::PortAccess& A) {
    if (A.Write) {
      return;
    }
    if (A.Port == sim::AdapterReadyInputPort) {
      if (!Out_.AdapterReady) {
        Out_.AdapterReady = (A.Value & sim::AdapterReadyInputBit) != 0;
      } else if (Waiting_) {
        ++Out_.Polls;
      }
    } else if (A.Port == sim::AdapterWaitInputPort && !Out_.WaitEnable) {
      Out_.WaitEnable = (A.Value & sim::AdapterWaitInputBit) != 0;
    }
  }

  void Execute(size_t D, const sim::ExecuteCall& Call) {
    AdapterCommandOutcome* C = Command();
    if (D == Driver_ && C != nullptr && !C->Sent) {
      C->Sent = Call.Text;
      C->Answer = Call.Answer;
      if (!Pass()->Location && Call.Location) {
        Pass()->Location = Call.Location;
      }
    } else if (D == Driver_ && Out_.Passes.empty()) {
      Out_.Restore.push_back({Call.Text, Call.Answer});
    } else {
      Out_.Notes.push_back("Execute of driver " + Step_.Blade.Adapters[D].Name() +
                           " called outside a command: \"" + Call.Text + "\"");
    }
  }

  void Request(const sim::IpmiRequest& R) {
    if (R.NetFn == sim::ipmi::NetFnOem) {
      Message(R);
    } else if (IsFru(R, sim::ipmi::CmdReadFruData) && R.Data.size() == 4 && !R.Response.empty()) {
      FruRead(R.Data[0], OffsetOf(R), R.Data[3], {R.Response.begin() + 1, R.Response.end()});
    } else if (IsFru(R, sim::ipmi::CmdWriteFruData)) {
      FruWrite(R.Data[0], OffsetOf(R), {R.Data.begin() + 3, R.Data.end()});
    }
  }

  void Message(const sim::IpmiRequest& R) {
    const UINT8 Size = static_cast<UINT8>(R.Data.size());
    std::string What = "NetFn 0x30 command " + HexNumber(R.Cmd, 2);
    if (IsWaitMessage(R.NetFn, R.Cmd, R.Data.data(), Size, true)) {
      What = "wait begins";
      if (!EFI_ERROR(R.Status)) {
        Out_.WaitBegan = R.Time;
        Waiting_ = true;
      }
    } else if (IsWaitMessage(R.NetFn, R.Cmd, R.Data.data(), Size, false)) {
      What = "wait ends";
      Out_.WaitEnded = R.Time;
      Waiting_ = false;
      AfterWait_ = !EFI_ERROR(R.Status);
    } else if (R.Cmd == CmdOemUuid) {
      What = "system UUID";
    } else if (R.Cmd == CmdOemWait) {
      What = "wait message of unknown bytes";
    }
    Out_.Messages.push_back({R.Time, What, R.Data, R.Status, R.CompletionCode});
  }

  void FruRead(UINT8 Fru, UINT16 Offset, UINT8 Count, const std::vector<uint8_t>& Data) {
    if (!Out_.Fru) {
      Out_.Fru = Fru; // the arrival's first FRU access is its search for the mailbox
    }
    // The search for the mailbox reads the header's first 16 bytes at each candidate.
    if (Offset >= mf::MailboxFirstOffset &&
        (Offset - mf::MailboxFirstOffset) % mf::MailboxStride == 0 &&
        Data.size() >= sizeof(mf::Signature) &&
        std::equal(std::begin(mf::Signature), std::end(mf::Signature), Data.begin())) {
      Headers_[Fru] = Offset;
      return;
    }
    auto H = Headers_.find(Fru);
    if (H == Headers_.end()) {
      return;
    }
    const UINT16 Header = H->second;
    if (Count == 2 && Offset == Header + mf::ResultAreaField) {
      StartPass(Fru, Header, Be16(Data));
      return;
    }
    AdapterPass* P = Pass();
    if (P == nullptr || P->Fru != Fru) {
      return;
    }
    if (Count == 2 && Offset >= Header + mf::ListOffsetField &&
        Offset < Header + mf::ResultAreaField && (Offset - Header) % 2 == 0) {
      CloseCommand(false);
      List_ = static_cast<int>((Offset - Header - mf::ListOffsetField) / 2);
      NextIndex_ = 0;
      NextId_ = Be16(Data);
    } else if (Count == 2 && List_ >= 0 && Offset == NextId_) {
      IdRead(Offset, Be16(Data));
    } else if (Count == 16 && Command() != nullptr && !Command()->ReadWhole &&
               Offset == TextNext_) {
      TextRead(Data);
    } else if (Count == mf::ResultRecordSize && Command() != nullptr && P->ResultArea &&
               Offset ==
                   mf::ResultRecordOffset(*P->ResultArea, Command()->List, Command()->Index)) {
      RecordSlotRead_ = true;
    }
  }

  void StartPass(UINT8 Fru, UINT16 Header, UINT16 ResultArea) {
    CloseCommand(false);
    AdapterPass P;
    P.Fru = Fru;
    P.HeaderOffset = Header;
    P.ResultArea = ResultArea;
    P.Location = Identity_;
    if (P.Location) {
      if (const PciFunctionSetup* F = FindPciFunction(S_.Adapters.Pci, *P.Location)) {
        P.VendorId = F->VendorId;
        P.DeviceId = F->DeviceId;
      }
      P.Row = SlotRowOf(S_.Adapters.Pci, *P.Location);
      if (P.Row) {
        P.PendingBit = AdapterSlotTable[*P.Row].PendingBit;
        P.Port = ServedPort(P.VendorId, AdapterSlotTable[*P.Row].Function, P.PendingBit);
      }
    }
    Out_.Passes.push_back(P);
    List_ = -1;
  }

  void IdRead(UINT16 Offset, UINT16 Id) {
    CloseCommand(false);
    if (Id == mf::CommandEndId) {
      List_ = -1;
      return;
    }
    if (NextIndex_ == mf::MailboxCommandsPerList) {
      // A 33rd command: the OverflowMarker goes to the list's result block (unless it is there
      // already) and the run leaves the list loop.
      Pass()->OverflowLists.push_back(static_cast<UINT8>(List_));
      List_ = -1;
      return;
    }
    AdapterCommandOutcome C{};
    C.List = static_cast<UINT8>(List_);
    C.Index = NextIndex_++;
    C.Id = Id;
    C.ReadWhole = false;
    Pass()->Commands.push_back(C);
    HasCommand_ = true;
    RecordSlotRead_ = false;
    TextStart_ = static_cast<UINT16>(Offset + mf::CommandIdSize);
    TextNext_ = TextStart_;
  }

  void TextRead(const std::vector<uint8_t>& Data) {
    AdapterCommandOutcome& C = *Command();
    for (uint8_t B : Data) {
      if (B == 0) {
        C.ReadWhole = true;
        NextId_ = static_cast<UINT16>(TextStart_ + C.Read.size() + 1);
        return;
      }
      C.Read.push_back(static_cast<char>(B));
    }
    TextNext_ = static_cast<UINT16>(TextNext_ + Data.size());
  }

  void FruWrite(UINT8 Fru, UINT16 Offset, const std::vector<uint8_t>& Bytes) {
    AdapterPass* P = Pass();
    if (P == nullptr || P->Fru != Fru) {
      return;
    }
    AdapterCommandOutcome* C = Command();
    if (C != nullptr && P->ResultArea && Bytes.size() == mf::ResultRecordSize &&
        Offset == mf::ResultRecordOffset(*P->ResultArea, C->List, C->Index)) {
      C->Record = mf::DecodeResultRecord(Bytes.data());
      C->RecordWritten = true;
    } else if (Bytes.size() == 1 && Bytes[0] == 0 &&
               Offset == P->HeaderOffset + mf::HostLockFlagOffset) {
      P->Released = true;
    }
  }

  // The command before the next one (or the last of the step, Last) is complete: a record it
  // found in place, or why it was not sent.
  void CloseCommand(bool Last) {
    AdapterCommandOutcome* C = Command();
    HasCommand_ = false;
    if (C == nullptr) {
      return;
    }
    if (C->Answer && !C->Record && RecordSlotRead_) {
      C->Record = mf::ResultRecordValue{C->Id, C->Answer->StatusWord};
    }
    if (!C->Sent) {
      C->NotSent = WhyNotSent(*C, *Pass(), Last);
    }
  }

  std::string WhyNotSent(const AdapterCommandOutcome& C, const AdapterPass& P, bool Last) const {
    if (!C.ReadWhole) {
      return C.Read.size() >= TextBuffer
                 ? "no NUL within 256 bytes: the host refuses the text and stops the run"
                 : "the text was not read whole: the run stopped";
    }
    if (IsPlatformSetting(C.Read)) {
      return AfterWait_ ? "a platform setting: the host takes it itself (active cores, UUID and "
                          "serial number change here, other keywords nothing)"
                        : "a platform setting: the host takes those only in the run after the "
                          "wait for adapter-ready, and drops them otherwise";
    }
    const std::optional<unsigned> Port = PortOf(C.Read);
    if (Port && P.Port && *Port != *P.Port) {
      return "for port " + std::to_string(*Port) + "; the adapter served is port " +
             std::to_string(*P.Port);
    }
    return Last ? "the run stopped here" : "not sent";
  }

  const Scenario& S_;
  size_t Driver_;
  const StepRecords& Step_;
  ArrivalOutcome& Out_;
  std::map<UINT8, UINT16> Headers_;
  UINT32 Latch_ = 0;
  std::optional<sim::PciAddress> Identity_;
  bool Waiting_ = false;
  bool AfterWait_ = false;
  int List_ = -1;
  size_t NextIndex_ = 0;
  UINT16 NextId_ = 0;
  bool HasCommand_ = false;
  bool RecordSlotRead_ = false;
  UINT16 TextStart_ = 0;
  UINT16 TextNext_ = 0;
};

std::vector<ClockPhase> DescribeClock(const StepRecords& Step) {
  std::vector<ClockPhase> Phases;
  const auto& Msrs = Step.Blade.Platform.MsrAccesses();
  for (size_t I = Step.Begin.Msrs; I < Step.End.Msrs; ++I) {
    const sim::MsrAccess& A = Msrs[I];
    if (!A.Write || A.Msr != sim::ClockModulationMsr) {
      continue;
    }
    if (A.Processor == sim::BootProcessor || Phases.empty()) {
      Phases.push_back({A.Time, A.Value != 0, {}, std::nullopt});
    }
    Phases.back().Writes.emplace_back(A.Processor, A.Value);
  }
  const auto& Startups = Step.Blade.Mp.Startups();
  for (size_t I = Step.Begin.Startups, K = 0; I < Step.End.Startups; ++I, ++K) {
    if (K < Phases.size()) {
      Phases[K].Startup = Startups[I];
    }
  }
  return Phases;
}

// Why the arrival took its branch, or why it ended before one.
void DecideBranch(const Scenario& S, const StepRecords& Step, ArrivalOutcome& Out) {
  const uint32_t Npar = BladeField(Step.VariablesBefore, "NparRestoreMask").value_or(0);
  const bool WaitBegun = std::any_of(Out.Messages.begin(), Out.Messages.end(),
                                     [](const OemMessage& M) { return M.What == "wait begins"; });
  if (!Out.AdapterReady) {
    Out.Why = !Out.Row ? "its location " + Out.Function.Text() +
                             " is in no row of the adapter slot table: nothing to do"
              : !Out.Fru ? "ended before looking for its mailbox"
                         : "no mailbox found in FRU device " + FruName(*Out.Fru);
    return;
  }
  if (*Out.AdapterReady) {
    Out.Branch = ArrivalBranch::RunNow;
    Out.Why = "adapter-ready input 1";
  } else if (WaitBegun) {
    Out.Branch = ArrivalBranch::Wait;
    Out.Why = std::string("adapter-ready input 0, NparRestoreMask 0, wait-enable input ") +
              (Out.WaitEnable.value_or(false) ? "1" : "0");
  } else if (Npar != 0) {
    Out.Branch = ArrivalBranch::Restore;
    Out.Why = "adapter-ready input 0, NparRestoreMask " + HexNumber(Npar, 8);
    return;
  } else {
    Out.Why = "ended after reading the inputs";
    return;
  }
  for (const OemMessage& M : Out.Messages) {
    if (EFI_ERROR(M.Status) && (M.What == "wait begins" || M.What == "wait ends")) {
      Out.Notes.push_back("the " + M.What +
                          " message failed: the arrival ends there, and no "
                          "command runs");
    }
  }
  if (Out.Branch == ArrivalBranch::Wait && Out.Outcome.Hang) {
    Out.Notes.push_back("the adapter-ready input never rose: the wait has no end of its own");
  } else if (Out.Branch == ArrivalBranch::Wait && !Out.WaitEnable.value_or(false)) {
    Out.Notes.push_back("no wait (wait-enable input 0): adapter-ready is still 0, so no command "
                        "runs");
  }
  if (Out.Branch == ArrivalBranch::Wait && !S.Adapters.Mp.Present) {
    Out.Notes.push_back("no MP services: no processor is slowed down");
  }
  const std::string Field = PendingMaskField(Out.VendorId);
  const bool Runs = Out.Branch == ArrivalBranch::RunNow || Out.WaitEnded;
  if (Runs && Out.Passes.empty() && !Field.empty() &&
      BladeField(Step.VariablesBefore, Field.c_str()).value_or(1) == 0 && !Out.Outcome.Hang) {
    Out.Notes.push_back("nothing pending for vendor " + HexNumber(Out.VendorId, 4) + " (" + Field +
                        " 0): the mailbox is not touched");
  }
}

} // namespace

std::optional<size_t> SlotRowOf(const PciSetup& Pci, sim::PciAddress Function) {
  for (size_t Row = 0; Row < AdapterSlotCount; ++Row) {
    const AdapterSlot& Slot = AdapterSlotTable[Row];
    const sim::PciAddress Bridge(static_cast<UINT8>(Slot.BridgeAddress >> 16),
                                 static_cast<UINT8>((Slot.BridgeAddress >> 11) & 0x1F),
                                 static_cast<UINT8>((Slot.BridgeAddress >> 8) & 7));
    UINT8 Secondary = 0xFF; // an absent bridge reads all ones
    for (const PciBridgeSetup& B : Pci.Bridges) {
      if (B.At == Bridge) {
        Secondary = B.SecondaryBus;
      }
    }
    if (Secondary == Function.Bus && Slot.Function == Function.Function) {
      return Row;
    }
  }
  return std::nullopt;
}

std::vector<VariableWriteOutcome> DescribeWrites(const VariableSnapshot& Before,
                                                 const std::vector<sim::VariableWrite>& Writes,
                                                 size_t From, size_t To) {
  VariableSnapshot Now = Before;
  std::vector<VariableWriteOutcome> Out;
  for (size_t I = From; I < To && I < Writes.size(); ++I) {
    const sim::VariableWrite& W = Writes[I];
    VariableWriteOutcome O{"", W.Result, {}};
    for (VariableSnapshot::Entry& E : Now.Entries) {
      const PlatformVariable& V = *E.Var->Var;
      if (std::u16string(reinterpret_cast<const char16_t*>(V.Name)) != W.Name ||
          std::memcmp(&V.Guid, &W.Guid, sizeof(EFI_GUID)) != 0) {
        continue;
      }
      O.Variable = E.Var->Label;
      if (!EFI_ERROR(W.Result)) {
        VariableSnapshot::Entry After{E.Var, W.Data.empty() ? std::nullopt : std::optional(W.Data)};
        O.Changes = CompareSnapshots({{E}}, {{After}});
        E = After;
      }
    }
    if (O.Variable.empty()) {
      O.Variable.assign(W.Name.begin(), W.Name.end());
    }
    Out.push_back(std::move(O));
  }
  return Out;
}

ArrivalOutcome DescribeArrival(const Scenario& S, size_t Driver, sim::PciAddress Function,
                               const sim::BootOutcome& Outcome, const StepRecords& Step) {
  ArrivalOutcome Out;
  Out.Ran = true;
  Out.Outcome = Outcome;
  Out.Driver = Step.Blade.Adapters[Driver].Name();
  Out.Function = Function;
  if (const PciFunctionSetup* F = FindPciFunction(S.Adapters.Pci, Function)) {
    Out.VendorId = F->VendorId;
    Out.DeviceId = F->DeviceId;
  }
  Out.Row = SlotRowOf(S.Adapters.Pci, Function);
  ArrivalWalk(S, Driver, Step, Out).Run();
  DecideBranch(S, Step, Out);
  Out.Clock = DescribeClock(Step);
  Out.Writes = DescribeWrites(Step.VariablesBefore, Step.Blade.Firmware.Variables.Writes(),
                              Step.Begin.VariableWrites, Step.End.VariableWrites);
  const auto& Codes = Step.Blade.Platform.StatusCodes();
  Out.StatusCodes.assign(Codes.begin() + Step.Begin.StatusCodes,
                         Codes.begin() + Step.End.StatusCodes);
  const auto& Resets = Step.Blade.Firmware.Resets();
  Out.Resets.assign(Resets.begin() + Step.Begin.Resets, Resets.begin() + Step.End.Resets);
  Out.Requests = Step.End.Requests - Step.Begin.Requests;
  return Out;
}

} // namespace tools
