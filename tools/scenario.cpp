#include "tools/scenario.h"

#include <fstream>
#include <iterator>

#include "tools/mailbox_json.h"
#include "tools/report.h"

namespace tools {

namespace {

constexpr uint64_t Millisecond = 1000;
constexpr uint64_t MaxMilliseconds = 24ull * 3600 * 1000;

std::vector<uint8_t> ReadFile(const JsonView& Place, const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    Place.Fail("the FRU image \"" + Path + "\" cannot be read");
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}

FruDeviceSetup FruFromJson(const JsonView& V, const std::string& BaseDirectory) {
  V.AllowOnly({"id", "size", "fill", "mailbox", "image"});
  FruDeviceSetup Fru;
  Fru.Id = static_cast<UINT8>(V["id"].Unsigned(0xFE));
  if (V.Has("mailbox") && V.Has("image")) {
    V.Fail("give a \"mailbox\" or an \"image\" file, not both");
  }
  if (V.Has("mailbox")) {
    if (V.Has("size") || V.Has("fill")) {
      V.Fail("the size and fill of a device with a mailbox go into the mailbox");
    }
    Fru.Bytes = mailbox_format::EncodeMailboxImage(MailboxFromJson(V["mailbox"]));
    Fru.Source = "mailbox";
  } else if (V.Has("image")) {
    const std::string File = V["image"].String();
    const std::string Path =
        File.empty() || File[0] == '/' || BaseDirectory.empty() ? File : BaseDirectory + "/" + File;
    Fru.Bytes = ReadFile(V["image"], Path);
    if (Fru.Bytes.empty() || Fru.Bytes.size() > mailbox_format::FruAddressSpace) {
      V["image"].Fail("the FRU image \"" + Path + "\" holds " + std::to_string(Fru.Bytes.size()) +
                      " bytes; a FRU device holds 1 to 65536");
    }
    Fru.Source = "image " + File;
  } else {
    const size_t Size =
        V.Has("size") ? V["size"].Unsigned(1, mailbox_format::FruAddressSpace) : 4096;
    const UINT8 Fill = V.Has("fill") ? static_cast<UINT8>(V["fill"].Unsigned(0xFF)) : 0;
    Fru.Bytes.assign(Size, Fill);
    Fru.Source = "empty";
  }
  return Fru;
}

void SetField(const JsonView& V, const VariableField& F, std::vector<uint8_t>& Data) {
  switch (F.Kind) {
  case FieldKind::Number:
    WriteNumber(Data, F.Offset, F.Size,
                static_cast<uint32_t>(V.Unsigned(
                    (F.Size >= 4 ? 0xFFFFFFFFull : 1ull << (8 * F.Size)) - (F.Size >= 4 ? 0 : 1))));
    break;
  case FieldKind::Bytes: {
    const std::vector<uint8_t> Bytes = V.HexBytes();
    if (Bytes.size() != F.Size) {
      V.Fail("expected " + std::to_string(F.Size) + " bytes, found " +
             std::to_string(Bytes.size()));
    }
    std::copy(Bytes.begin(), Bytes.end(), Data.begin() + F.Offset);
    break;
  }
  case FieldKind::Text16: {
    const std::string Text = V.String();
    if (Text.size() > F.Size / 2) {
      V.Fail("a text of " + std::to_string(Text.size()) + " characters; the field holds " +
             std::to_string(F.Size / 2));
    }
    std::fill(Data.begin() + F.Offset, Data.begin() + F.Offset + F.Size, 0);
    for (size_t I = 0; I < Text.size(); ++I) {
      Data[F.Offset + 2 * I] = static_cast<uint8_t>(Text[I]);
    }
    break;
  }
  case FieldKind::ByteList:
    if (V.Size() != F.Size) {
      V.Fail("expected " + std::to_string(F.Size) + " entries, found " + std::to_string(V.Size()));
    }
    for (size_t I = 0; I < F.Size; ++I) {
      Data[F.Offset + I] = static_cast<uint8_t>(V[I].Unsigned(0xFF));
    }
    break;
  }
}

VariableSetup VariableFromJson(const JsonView& V, const KnownVariable& Var) {
  VariableSetup Setup{&Var, std::vector<uint8_t>(Var.Var->Size, 0)};
  if (V.IsNull()) {
    Setup.Data.reset();
    return Setup;
  }
  V.ExpectObject();
  for (const std::string& Key : V.Keys()) {
    const JsonView Value = V.Member(Key);
    if (Key == "bytes") {
      for (size_t I = 0; I < Value.Size(); ++I) {
        const JsonView Patch = Value[I];
        Patch.AllowOnly({"offset", "hex"});
        const size_t Offset = Patch["offset"].Unsigned(Var.Var->Size - 1);
        const std::vector<uint8_t> Bytes = Patch["hex"].HexBytes();
        if (Offset + Bytes.size() > Var.Var->Size) {
          Patch["hex"].Fail("runs past the end of the " + std::to_string(Var.Var->Size) +
                            "-byte variable");
        }
        std::copy(Bytes.begin(), Bytes.end(), Setup.Data->begin() + Offset);
      }
    } else if (const VariableField* F = FindField(Var, Key)) {
      SetField(Value, *F, *Setup.Data);
    } else {
      std::string Names;
      for (const VariableField& Known : Var.Fields) {
        Names += std::string(Names.empty() ? "" : ", ") + Known.Name;
      }
      Value.Fail(std::string("no such field of ") + Var.Label + "; its fields are " + Names +
                 ", and \"bytes\" for raw bytes");
    }
  }
  return Setup;
}

// The fields that pick requests; every misbehaviour takes them.
const std::initializer_list<const char*> MatchFields = {
    "fru", "offset", "request", "request_number", "nth", "times"};

sim::RequestMatch MatchFromJson(const JsonView& V) {
  sim::RequestMatch Match;
  if (V.Has("fru")) {
    Match.FruId = static_cast<UINT8>(V["fru"].Unsigned(0xFF));
  }
  if (V.Has("offset")) {
    Match.Offset = static_cast<UINT16>(V["offset"].Unsigned(0xFFFF));
  }
  if (V.Has("request_number")) {
    Match.Number = V["request_number"].Unsigned(1, 1000000000);
  }
  if (V.Has("nth")) {
    Match.Nth = static_cast<unsigned>(V["nth"].Unsigned(1, 1000000));
  }
  const std::string Request = V.Has("request") ? V["request"].String() : "any";
  if (Request == "read" || Request == "write") {
    Match.NetFn = sim::ipmi::NetFnStorage;
    Match.Cmd = Request == "read" ? sim::ipmi::CmdReadFruData : sim::ipmi::CmdWriteFruData;
  } else if (Request == "power_restore") {
    Match.NetFn = sim::ipmi::NetFnChassis;
    Match.Cmd = sim::ipmi::CmdSetPowerRestorePolicy;
  } else if (Request != "any") {
    V["request"].Fail("expected \"read\", \"write\", \"power_restore\" or \"any\", found \"" +
                      Request + "\"");
  }
  return Match;
}

// The fields a misbehaviour of one kind takes: its own, then those that pick requests.
void AllowMisbehaviour(const JsonView& V, std::initializer_list<const char*> Own) {
  std::vector<std::string> Allowed(Own.begin(), Own.end());
  Allowed.insert(Allowed.end(), MatchFields.begin(), MatchFields.end());
  V.AllowOnly(Allowed);
}

EFI_STATUS ErrorStatus(const JsonView& V) {
  const std::optional<EFI_STATUS> Status = StatusFromName(V.String());
  if (!Status || !EFI_ERROR(*Status)) {
    V.Fail("expected an EFI error status name such as \"EFI_DEVICE_ERROR\"");
  }
  return *Status;
}

const std::map<std::string, sim::FruAnswerFault>& FaultNames() {
  static const std::map<std::string, sim::FruAnswerFault> Names = {
      {"shorter_than_count", sim::FruAnswerFault::ShorterThanCount},
      {"longer_than_count", sim::FruAnswerFault::LongerThanCount},
      {"count_above_request", sim::FruAnswerFault::CountAboveRequest},
      {"different_data", sim::FruAnswerFault::DifferentData},
      {"longer_than_buffer", sim::FruAnswerFault::LongerThanBuffer},
      {"write_not_stored", sim::FruAnswerFault::WriteNotStored},
  };
  return Names;
}

template <typename Value>
Value Named(const JsonView& V, const std::map<std::string, Value>& Names) {
  const std::string Name = V.String();
  auto It = Names.find(Name);
  if (It == Names.end()) {
    std::string Known;
    for (const auto& N : Names) {
      Known += std::string(Known.empty() ? "" : ", ") + "\"" + N.first + "\"";
    }
    V.Fail("expected one of " + Known + ", found \"" + Name + "\"");
  }
  return It->second;
}

// One entry of bmc.busy, bmc.completion_codes, bmc.transport_failures, bmc.untruthful or
// bmc.delays.
AnswerSetup AnswerFromJson(const JsonView& V, const std::string& List) {
  AnswerSetup A;
  if (List == "busy") {
    AllowMisbehaviour(V, {});
    A.Code = sim::ipmi::CompletionFruBusy;
  } else if (List == "completion_codes") {
    AllowMisbehaviour(V, {"code"});
    A.Code = static_cast<UINT8>(V["code"].Unsigned(1, 0xFF));
  } else if (List == "transport_failures") {
    AllowMisbehaviour(V, {"status"});
    A.What = AnswerSetup::TransportFailure;
    A.Status = ErrorStatus(V["status"]);
  } else if (List == "untruthful") {
    AllowMisbehaviour(V, {"answer"});
    A.What = AnswerSetup::Untruthful;
    A.Fault = Named(V["answer"], FaultNames());
  } else {
    AllowMisbehaviour(V, {"delay_ms"});
    A.What = AnswerSetup::Delay;
    A.DelayMicroseconds = V["delay_ms"].Unsigned(1, MaxMilliseconds) * Millisecond;
  }
  A.Times = V.Has("times") ? static_cast<int>(V["times"].Unsigned(1, 1000000)) : 1;
  A.Match = MatchFromJson(V);
  return A;
}

const FruDeviceSetup* FindFru(const Scenario& S, UINT8 Id) {
  for (const FruDeviceSetup& F : S.Frus) {
    if (F.Id == Id) {
      return &F;
    }
  }
  return nullptr;
}

UINT16 MailboxHeaderOf(const JsonView& V, const Scenario& S, UINT8 Fru) {
  const FruDeviceSetup* Device = FindFru(S, Fru);
  if (Device == nullptr) {
    V.Fail("no FRU device " + std::to_string(Fru) + " in fru_devices");
  }
  try {
    return mailbox_format::DecodeMailboxImage(Device->Bytes).Image.HeaderOffset;
  } catch (const mailbox_format::MailboxFormatError& E) {
    V.Fail("FRU device " + std::to_string(Fru) + " holds no mailbox: " + E.what());
  }
}

const std::map<std::string, sim::LockReaction>& ReactionNames() {
  static const std::map<std::string, sim::LockReaction> Names = {
      {"hands_turn_back", sim::LockReaction::HandTurnBack},
      {"yields_when_asked", sim::LockReaction::YieldWhenAsked},
      {"takes_lock_while_host_holds", sim::LockReaction::TakeWhileHostHolds},
  };
  return Names;
}

LockSetup LockFromJson(const JsonView& V, const Scenario& S) {
  V.AllowOnly({"fru", "held_until_ms", "held_forever", "reaction", "after_requests"});
  LockSetup Lock;
  Lock.Fru = static_cast<UINT8>(V["fru"].Unsigned(0xFF));
  Lock.HeaderOffset = MailboxHeaderOf(V["fru"], S, Lock.Fru);
  const int Ways = V.Has("held_until_ms") + V.Has("held_forever") + V.Has("reaction");
  if (Ways != 1) {
    V.Fail("give \"held_until_ms\", \"held_forever\": true or a \"reaction\", one of the three");
  }
  if (V.Has("after_requests") && !V.Has("reaction")) {
    V["after_requests"].Fail("only a reaction waits a number of requests");
  }
  if (V.Has("held_forever")) {
    if (!V["held_forever"].Bool()) {
      V["held_forever"].Fail("only true makes sense here; leave the lock out instead");
    }
  } else if (V.Has("held_until_ms")) {
    Lock.UntilMicroseconds = V["held_until_ms"].Unsigned(MaxMilliseconds) * Millisecond;
  } else {
    Lock.Reaction = Named(V["reaction"], ReactionNames());
    Lock.AfterRequests =
        V.Has("after_requests") ? static_cast<unsigned>(V["after_requests"].Unsigned(100000)) : 0;
  }
  return Lock;
}

BmcWriteSetup BmcWriteFromJson(const JsonView& V, const Scenario& S) {
  V.AllowOnly({"fru", "offset", "value", "hex", "at_ms", "before"});
  BmcWriteSetup W;
  W.Fru = static_cast<UINT8>(V["fru"].Unsigned(0xFF));
  const FruDeviceSetup* Fru = FindFru(S, W.Fru);
  if (Fru == nullptr) {
    V["fru"].Fail("no FRU device " + std::to_string(W.Fru) + " in fru_devices");
  }
  W.Offset = static_cast<UINT16>(V["offset"].Unsigned(Fru->Bytes.size() - 1));
  if (V.Has("value") == V.Has("hex")) {
    V.Fail("give the byte as \"value\" or the bytes as \"hex\", one of the two");
  }
  W.Bytes = V.Has("value") ? std::vector<uint8_t>{static_cast<uint8_t>(V["value"].Unsigned(0xFF))}
                           : V["hex"].HexBytes();
  if (W.Bytes.empty() || W.Offset + W.Bytes.size() > Fru->Bytes.size()) {
    V["hex"].Fail("1 to " + std::to_string(Fru->Bytes.size() - W.Offset) +
                  " bytes fit at that offset");
  }
  if (V.Has("at_ms") == V.Has("before")) {
    V.Fail("give \"at_ms\" or \"before\" (the requests it comes before), one of the two");
  }
  if (V.Has("at_ms")) {
    W.AtMicroseconds = V["at_ms"].Unsigned(MaxMilliseconds) * Millisecond;
  } else {
    const JsonView Before = V["before"];
    Before.AllowOnly({"fru", "offset", "request", "request_number", "nth"});
    W.Before = MatchFromJson(Before);
  }
  return W;
}

// Platform information indexes are the keys of an object.
UINTN IndexKey(const JsonView& Parent, const std::string& Key) {
  const nlohmann::json Text = Key;
  try {
    return JsonView(Text, "").Unsigned(0xFFFF);
  } catch (const InputError&) {
    Parent.Member(Key).Fail("the key must be a platform information index, such as \"29\"");
  }
}

void PlatformFromJson(const JsonView& V, Scenario& S) {
  V.AllowOnly({"info", "info_failures", "info_sequences", "inputs", "cpu"});
  if (V.Has("info")) {
    for (const std::string& Key : V["info"].Keys()) {
      S.PlatformInfo[IndexKey(V["info"], Key)] = V["info"].Member(Key).Unsigned(UINT64_MAX);
    }
  }
  if (V.Has("info_failures")) {
    for (const std::string& Key : V["info_failures"].Keys()) {
      S.PlatformInfoFailures[IndexKey(V["info_failures"], Key)] =
          ErrorStatus(V["info_failures"].Member(Key));
    }
  }
  if (V.Has("info_sequences")) {
    const JsonView Sequences = V["info_sequences"];
    for (const std::string& Key : Sequences.Keys()) {
      const JsonView Answers = Sequences.Member(Key);
      std::vector<InfoAnswerSetup>& Out = S.PlatformInfoSequences[IndexKey(Sequences, Key)];
      for (size_t I = 0; I < Answers.Size(); ++I) {
        const JsonView A = Answers[I];
        if (A.Value().is_string() && A.String().rfind("EFI_", 0) == 0) {
          Out.push_back({ErrorStatus(A), 0});
        } else {
          Out.push_back({EFI_SUCCESS, A.Unsigned(UINT64_MAX)});
        }
      }
    }
  }
  if (V.Has("inputs")) {
    const JsonView In = V["inputs"];
    In.AllowOnly({"adapter_ready", "adapter_ready_at_ms", "wait_enable"});
    if (In.Has("adapter_ready") && In["adapter_ready"].IsArray()) {
      if (In.Has("adapter_ready_at_ms")) {
        In["adapter_ready_at_ms"].Fail(
            "the changes of adapter_ready say when it rises; leave adapter_ready_at_ms out");
      }
      S.Adapters.AdapterReadyChanges = InputChangesFromJson(In["adapter_ready"]);
    } else if (In.Has("adapter_ready")) {
      S.AdapterReady = In["adapter_ready"].Bool();
    }
    if (In.Has("adapter_ready_at_ms")) {
      S.AdapterReadyAtMicroseconds =
          In["adapter_ready_at_ms"].Unsigned(MaxMilliseconds) * Millisecond;
    }
    if (In.Has("wait_enable") && In["wait_enable"].IsArray()) {
      S.Adapters.WaitEnableChanges = InputChangesFromJson(In["wait_enable"]);
    } else if (In.Has("wait_enable")) {
      S.WaitEnable = In["wait_enable"].Bool();
    }
  }
  if (V.Has("cpu")) {
    const JsonView Cpu = V["cpu"];
    Cpu.AllowOnly({"threads_per_core", "cores_per_package", "max_leaf"});
    if (Cpu.Has("threads_per_core") || Cpu.Has("cores_per_package")) {
      S.ThreadsPerCore = static_cast<UINT32>(Cpu["threads_per_core"].Unsigned(0, 255));
      S.CoresPerPackage = static_cast<UINT32>(Cpu["cores_per_package"].Unsigned(0, 255));
    }
    if (Cpu.Has("max_leaf")) {
      S.MaxCpuidLeaf = static_cast<UINT32>(Cpu["max_leaf"].Unsigned(0xFFFFFFFF));
    }
  }
}

void BmcFromJson(const JsonView& V, Scenario& S) {
  V.AllowOnly({"busy", "completion_codes", "transport_failures", "untruthful", "delays",
               "request_cost_us", "lock", "writes", "wait_messages"});
  if (V.Has("wait_messages")) {
    for (size_t I = 0; I < V["wait_messages"].Size(); ++I) {
      S.Adapters.WaitAnswers.push_back(WaitMessageAnswerFromJson(V["wait_messages"][I]));
    }
  }
  // Each list in its own order, the lists in this order, whichever order the file gives.
  for (const char* Name : {"busy", "completion_codes", "transport_failures", "untruthful", "delays",
                           "lock", "writes"}) {
    if (!V.Has(Name)) {
      continue;
    }
    const std::string N = Name;
    const JsonView Items = V[Name];
    for (size_t I = 0; I < Items.Size(); ++I) {
      if (N == "lock") {
        S.Locks.push_back(LockFromJson(Items[I], S));
      } else if (N == "writes") {
        S.BmcWrites.push_back(BmcWriteFromJson(Items[I], S));
      } else {
        S.Answers.push_back(AnswerFromJson(Items[I], N));
      }
    }
  }
  if (V.Has("request_cost_us")) {
    S.RequestCostMicroseconds = V["request_cost_us"].Unsigned(MaxMilliseconds * Millisecond);
  }
}

const std::map<std::string, bool sim::BladeOptions::*>& ProtocolNames() {
  static const std::map<std::string, bool sim::BladeOptions::*> Names = {
      {"ipmi_transport", &sim::BladeOptions::InstallIpmiTransport},
      {"platform_info", &sim::BladeOptions::InstallPlatformInfo},
      {"status_code", &sim::BladeOptions::InstallStatusCode},
      {"smbios_edit", &sim::BladeOptions::InstallSmbiosEdit},
  };
  return Names;
}

const std::map<std::string, sim::VariableAccess>& AccessNames() {
  static const std::map<std::string, sim::VariableAccess> Names = {
      {"any", sim::VariableAccess::Any},
      {"read", sim::VariableAccess::Read},
      {"write", sim::VariableAccess::Write},
  };
  return Names;
}

VariableFailureSetup VariableFailureFromJson(const JsonView& V) {
  V.AllowOnly({"variable", "read", "write", "access", "kind", "times", "status"});
  VariableFailureSetup F;
  if (V.Has("status")) {
    F.Status = ErrorStatus(V["status"]);
  }
  if (V.Has("access")) {
    if (V.Has("variable") || V.Has("read") || V.Has("write") || V.Has("times")) {
      V.Fail("\"access\" counts every variable service call; it takes only \"kind\" and "
             "\"status\"");
    }
    F.Nth = static_cast<unsigned>(V["access"].Unsigned(1, 1000000));
    F.Kind = V.Has("kind") ? Named(V["kind"], AccessNames()) : sim::VariableAccess::Any;
    return F;
  }
  const std::string Label = V["variable"].String();
  F.Var = FindVariable(Label);
  if (F.Var == nullptr) {
    V["variable"].Fail("no such variable; expected TalBladeData, SystemSetup, ServerSetup, "
                       "CLPFailureFlag or ClpCommandFruIdList");
  }
  if (V.Has("read") == V.Has("write") || V.Has("kind")) {
    V.Fail("give \"read\" or \"write\": the first of that variable's reads or writes to fail");
  }
  F.Kind = V.Has("read") ? sim::VariableAccess::Read : sim::VariableAccess::Write;
  F.Nth = static_cast<unsigned>(V[V.Has("read") ? "read" : "write"].Unsigned(1, 1000000));
  F.Times = V.Has("times") ? static_cast<int>(V["times"].Unsigned(1, 1000000)) : 1;
  return F;
}

void FirmwareFromJson(const JsonView& V, Scenario& S) {
  V.AllowOnly({"missing_protocols", "pool_failures", "variable_failures"});
  if (V.Has("missing_protocols")) {
    const JsonView Missing = V["missing_protocols"];
    for (size_t I = 0; I < Missing.Size(); ++I) {
      S.Options.*Named(Missing[I], ProtocolNames()) = false;
    }
  }
  if (V.Has("pool_failures")) {
    const JsonView Failures = V["pool_failures"];
    for (size_t I = 0; I < Failures.Size(); ++I) {
      const JsonView F = Failures[I];
      F.AllowOnly({"nth", "status"});
      S.PoolFailures.push_back({static_cast<unsigned>(F["nth"].Unsigned(1, 1000000)),
                                F.Has("status") ? ErrorStatus(F["status"]) : EFI_OUT_OF_RESOURCES});
    }
  }
  if (V.Has("variable_failures")) {
    const JsonView Failures = V["variable_failures"];
    for (size_t I = 0; I < Failures.Size(); ++I) {
      S.VariableFailures.push_back(VariableFailureFromJson(Failures[I]));
    }
  }
}

// true, false, or {"at_ms": N} for a time of its own.
void CompletionFromJson(const JsonView& V, Scenario& S) {
  if (!V.IsObject()) {
    S.CompletionSignal = V.Bool();
    return;
  }
  V.AllowOnly({"at_ms"});
  S.CompletionAtMicroseconds = V["at_ms"].Unsigned(MaxMilliseconds) * Millisecond;
}

} // namespace

Scenario ParseScenario(const nlohmann::json& Json, const std::string& Name,
                       const std::string& BaseDirectory) {
  const JsonView V(Json, Name);
  V.AllowOnly({"description", "fru_devices", "variables", "platform", "bmc", "firmware", "pci",
               "adapter_drivers", "mp_services", "completion_signal"});
  Scenario S;
  S.Name = Name;
  if (V.Has("description")) {
    S.Description = V["description"].String();
  }
  const JsonView Frus = V["fru_devices"];
  for (size_t I = 0; I < Frus.Size(); ++I) {
    FruDeviceSetup Fru = FruFromJson(Frus[I], BaseDirectory);
    if (FindFru(S, Fru.Id) != nullptr) {
      Frus[I]["id"].Fail("FRU device " + std::to_string(Fru.Id) + " is given twice");
    }
    S.Frus.push_back(std::move(Fru));
  }
  if (V.Has("variables")) {
    const JsonView Vars = V["variables"];
    for (const std::string& Key : Vars.Keys()) {
      const KnownVariable* Var = FindVariable(Key);
      if (Var == nullptr) {
        Vars.Member(Key).Fail("no such variable; expected TalBladeData, SystemSetup, ServerSetup, "
                              "CLPFailureFlag or ClpCommandFruIdList");
      }
      S.Variables.push_back(VariableFromJson(Vars.Member(Key), *Var));
    }
  }
  if (V.Has("platform")) {
    PlatformFromJson(V["platform"], S);
  }
  if (V.Has("bmc")) {
    BmcFromJson(V["bmc"], S);
  }
  // The topology first: the drivers start on its functions.
  if (V.Has("pci")) {
    PciFromJson(V["pci"], S.Adapters);
  }
  if (V.Has("adapter_drivers")) {
    AdapterDriversFromJson(V["adapter_drivers"], S.Adapters);
  }
  if (V.Has("mp_services")) {
    MpServicesFromJson(V["mp_services"], S.Adapters);
  }
  if (V.Has("firmware")) {
    FirmwareFromJson(V["firmware"], S);
  }
  if (V.Has("completion_signal")) {
    CompletionFromJson(V["completion_signal"], S);
  }
  return S;
}

Scenario LoadScenario(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  return ParseScenario(ReadJsonFile(Path), Path,
                       Slash == std::string::npos ? "" : Path.substr(0, Slash));
}

const std::string& DefaultScenarioText() {
  // A blade as a BMC fills it before a first boot. The platform mailbox: devices switched, a boot
  // order, an iSCSI boot, identity, and three lines the host answers otherwise than Done. Two
  // adapters behind the slot table's root ports, each with its mailbox: port commands that the
  // host filters by port and, for 0x8086, translates into the vendor's keywords. The first adapter
  // driver starts while adapter-ready is still low, so the host waits for it with the processors
  // slowed down; the drivers that start later find it high.
  static const std::string Text = R"({
  "description": "twelve platform commands in FRU device 1, a four-port 0x8086 adapter behind 00:02.0 (mailbox in FRU device 4) and a two-port 0x14E4 adapter behind 00:03.0 (FRU device 5), as a BMC fills them before a first boot",
  "fru_devices": [
    {
      "id": 1,
      "mailbox": {
        "size": 8192,
        "header_offset": 512,
        "lists": [
          [
            {"id": "0x0101", "text": "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
            {"id": "0x0102", "text": "SET BOOTCFGSETTING1 OEMTAL_LOM2=DISABLE"},
            {"id": "0x0103", "text": "SET BOOTCFGSETTING1 OEMTAL_MEZ1=ENABLE"},
            {"id": "0x0104", "text": "SET BOOTCFGSETTING1 OEMTAL_IPL1=PCI"},
            {"id": "0x0105", "text": "SET B1 OEMTAL_ISCSI=ENABLE"},
            {"id": "0x0106", "text": "SET BOOTCFGSETTING1 OEMTAL_SIO2=ENABLE"},
            {"id": "0x0107", "text": "SET NETPORT1 OEMTAL_BOOTPROTOCOL=ISCSI"},
            {"id": "0x0108", "text": "SET BOOTCFGSETTING1 OEMTAL_IOV1_BUS1=ENABLE"},
            {"id": "0x0109", "text": "SET BOOTCFGSETTING1 OEMTAL_LOM9=ENABLE"},
            {"id": "0x010A", "text": "SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF"},
            {"id": "0x010B", "text": "SET B1 OEMTAL_SERIAL=SN4711BLADE"},
            {"id": "0x010C", "text": "SET BOOTCFGSETTING1 OEMTAL_PXEPERMANENTADDRESS=ENABLE"}
          ]
        ]
      }
    },
    {
      "id": 4,
      "mailbox": {
        "header_offset": 512,
        "lists": [
          [
            {"id": "0x0401", "text": "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
            {"id": "0x0402", "text": "SET NETPORT1 OEMTAL_INITIATORADDRESSORIGIN=4"},
            {"id": "0x0403", "text": "SET N2 OEMQX_BOOTENABLE=ENABLE"},
            {"id": "0x0404", "text": "SET NETPORT2 OEMQX_INITIATORNAME=iqn.2026-01.com.example:blade7"},
            {"id": "0x0405", "text": "SET NETPORT3 OEMTAL_BOOTPRIORITY=DISABLE"},
            {"id": "0x0406", "text": "SET NETPORT4 DEFAULT"}
          ]
        ]
      }
    },
    {
      "id": 5,
      "mailbox": {
        "header_offset": 768,
        "lists": [
          [
            {"id": "0x0501", "text": "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
            {"id": "0x0502", "text": "SET NETPORT2 OEMTAL_BOOTENABLE=DISABLE"}
          ],
          [
            {"id": "0x0511", "text": "SET N2 OEMTAL_MULTIFUNCTIONMODE=SF"}
          ]
        ]
      }
    }
  ],
  "variables": {
    "TalBladeData": {"ClpFailurePause": 1, "PendingMask8086": "0x3C", "PendingMask14E4": "0xC0"},
    "ClpCommandFruIdList": {"FruIds": [4, 5, 0, 0, 0, 0]}
  },
  "platform": {
    "info": {"29": 0, "30": 0},
    "inputs": {"adapter_ready": false, "adapter_ready_at_ms": 1200, "wait_enable": true},
    "cpu": {"threads_per_core": 2, "cores_per_package": 8}
  },
  "pci": {
    "bridges": [
      {"at": "00:02.0", "secondary_bus": 4,
       "devices": [{"device": 0, "vendor": "0x8086", "device_id": "0x10FB", "functions": 4}]},
      {"at": "00:03.0", "secondary_bus": 5,
       "devices": [{"device": 0, "vendor": "0x14E4", "device_id": "0x168E", "functions": 2}]}
    ]
  },
  "adapter_drivers": [
    {"name": "net8086",
     "starts": [{"on": "04:00.0", "at_ms": 300}, {"on": "04:00.1", "at_ms": 1900},
                {"on": "04:00.2", "at_ms": 1910}, {"on": "04:00.3", "at_ms": 1920}]},
    {"name": "net14E4",
     "starts": [{"on": "05:00.0", "at_ms": 2000}, {"on": "05:00.1", "at_ms": 2010}]}
  ],
  "mp_services": {"processors": 4},
  "completion_signal": {"at_ms": 2500}
}
)";
  return Text;
}

Scenario DefaultScenario() {
  return ParseScenario(ParseJsonText(DefaultScenarioText(), "built-in default"), "built-in default",
                       "");
}

} // namespace tools
