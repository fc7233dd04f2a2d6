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

sim::RequestMatch MatchFromJson(const JsonView& V) {
  sim::RequestMatch Match;
  if (V.Has("fru")) {
    Match.FruId = static_cast<UINT8>(V["fru"].Unsigned(0xFF));
  }
  if (V.Has("offset")) {
    Match.Offset = static_cast<UINT16>(V["offset"].Unsigned(0xFFFF));
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

AnswerSetup AnswerFromJson(const JsonView& V, bool Busy) {
  if (Busy) {
    V.AllowOnly({"fru", "offset", "request", "times"});
  } else {
    V.AllowOnly({"code", "fru", "offset", "request", "times"});
  }
  AnswerSetup A;
  A.Code = Busy ? sim::ipmi::CompletionFruBusy : static_cast<UINT8>(V["code"].Unsigned(1, 0xFF));
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

LockSetup LockFromJson(const JsonView& V, const Scenario& S) {
  V.AllowOnly({"fru", "held_until_ms", "held_forever"});
  LockSetup Lock;
  Lock.Fru = static_cast<UINT8>(V["fru"].Unsigned(0xFF));
  const FruDeviceSetup* Fru = FindFru(S, Lock.Fru);
  if (Fru == nullptr) {
    V["fru"].Fail("no FRU device " + std::to_string(Lock.Fru) + " in fru_devices");
  }
  try {
    Lock.HeaderOffset = mailbox_format::DecodeMailboxImage(Fru->Bytes).Image.HeaderOffset;
  } catch (const mailbox_format::MailboxFormatError& E) {
    V["fru"].Fail("FRU device " + std::to_string(Lock.Fru) + " holds no mailbox: " + E.what());
  }
  if (V.Has("held_until_ms") == V.Has("held_forever")) {
    V.Fail("give \"held_until_ms\" or \"held_forever\": true, one of the two");
  }
  if (V.Has("held_forever")) {
    if (!V["held_forever"].Bool()) {
      V["held_forever"].Fail("only true makes sense here; leave the lock out instead");
    }
    Lock.UntilMicroseconds = UINT64_MAX;
  } else {
    Lock.UntilMicroseconds = V["held_until_ms"].Unsigned(MaxMilliseconds) * Millisecond;
  }
  return Lock;
}

BmcWriteSetup BmcWriteFromJson(const JsonView& V, const Scenario& S) {
  V.AllowOnly({"fru", "offset", "value", "at_ms"});
  BmcWriteSetup W;
  W.Fru = static_cast<UINT8>(V["fru"].Unsigned(0xFF));
  const FruDeviceSetup* Fru = FindFru(S, W.Fru);
  if (Fru == nullptr) {
    V["fru"].Fail("no FRU device " + std::to_string(W.Fru) + " in fru_devices");
  }
  W.Offset = static_cast<UINT16>(V["offset"].Unsigned(Fru->Bytes.size() - 1));
  W.Value = static_cast<UINT8>(V["value"].Unsigned(0xFF));
  W.AtMicroseconds = V["at_ms"].Unsigned(MaxMilliseconds) * Millisecond;
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
  V.AllowOnly({"info", "info_failures", "inputs", "cpu"});
  if (V.Has("info")) {
    for (const std::string& Key : V["info"].Keys()) {
      S.PlatformInfo[IndexKey(V["info"], Key)] = V["info"].Member(Key).Unsigned(UINT64_MAX);
    }
  }
  if (V.Has("info_failures")) {
    for (const std::string& Key : V["info_failures"].Keys()) {
      const JsonView Value = V["info_failures"].Member(Key);
      const std::optional<EFI_STATUS> Status = StatusFromName(Value.String());
      if (!Status || *Status == EFI_SUCCESS) {
        Value.Fail("expected an EFI error status name such as \"EFI_DEVICE_ERROR\"");
      }
      S.PlatformInfoFailures[IndexKey(V["info_failures"], Key)] = *Status;
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
    Cpu.AllowOnly({"threads_per_core", "cores_per_package"});
    S.ThreadsPerCore = static_cast<UINT32>(Cpu["threads_per_core"].Unsigned(0, 255));
    S.CoresPerPackage = static_cast<UINT32>(Cpu["cores_per_package"].Unsigned(0, 255));
  }
}

void BmcFromJson(const JsonView& V, Scenario& S) {
  V.AllowOnly({"busy", "completion_codes", "lock", "writes", "wait_messages"});
  if (V.Has("wait_messages")) {
    for (size_t I = 0; I < V["wait_messages"].Size(); ++I) {
      S.Adapters.WaitAnswers.push_back(WaitMessageAnswerFromJson(V["wait_messages"][I]));
    }
  }
  const char* Lists[] = {"busy", "completion_codes", "lock", "writes"};
  for (const char* Name : Lists) {
    if (!V.Has(Name)) {
      continue;
    }
    const JsonView Items = V[Name];
    for (size_t I = 0; I < Items.Size(); ++I) {
      const std::string N = Name;
      if (N == "busy" || N == "completion_codes") {
        S.Answers.push_back(AnswerFromJson(Items[I], N == "busy"));
      } else if (N == "lock") {
        S.Locks.push_back(LockFromJson(Items[I], S));
      } else {
        S.BmcWrites.push_back(BmcWriteFromJson(Items[I], S));
      }
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
  V.AllowOnly({"description", "fru_devices", "variables", "platform", "bmc", "pci",
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
