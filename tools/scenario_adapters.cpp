#include "tools/scenario_adapters.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "sim/blade.h"
#include "tools/report.h"

namespace tools {

namespace {

constexpr uint64_t Millisecond = 1000;
constexpr uint64_t MaxMilliseconds = 24ull * 3600 * 1000;
constexpr size_t MaxProcessors = 1024;

// A vendor ID of 0xFFFF reads like an empty slot, so no function carries it.
UINT16 VendorFromJson(const JsonView& V) {
  return static_cast<UINT16>(V.Unsigned(0xFFFE));
}

EFI_STATUS StatusFromJson(const JsonView& V) {
  const std::optional<EFI_STATUS> Status = StatusFromName(V.String());
  if (!Status) {
    V.Fail("expected an EFI status name such as \"EFI_SUCCESS\" or \"EFI_DEVICE_ERROR\"");
  }
  return *Status;
}

EFI_STATUS ErrorStatusFromJson(const JsonView& V) {
  const EFI_STATUS Status = StatusFromJson(V);
  if (Status == EFI_SUCCESS) {
    V.Fail("expected an EFI error status name such as \"EFI_DEVICE_ERROR\"");
  }
  return Status;
}

bool Described(const PciSetup& Pci, sim::PciAddress At) {
  return FindPciFunction(Pci, At) != nullptr ||
         std::any_of(Pci.Bridges.begin(), Pci.Bridges.end(),
                     [&](const PciBridgeSetup& B) { return B.At == At; });
}

// Firmware finds a function only when its device has function 0, and so has every bridge on the
// way to its bus. The first function 0 missing on that way, if one is.
std::optional<sim::PciAddress> MissingFunctionZero(const PciSetup& Pci, sim::PciAddress At) {
  for (size_t Hops = 0; Hops <= Pci.Bridges.size(); ++Hops) {
    const sim::PciAddress FunctionZero(At.Bus, At.Device, 0);
    if (!Described(Pci, FunctionZero)) {
      return FunctionZero;
    }
    auto Up = std::find_if(Pci.Bridges.begin(), Pci.Bridges.end(),
                           [&](const PciBridgeSetup& B) { return B.SecondaryBus == At.Bus; });
    if (Up == Pci.Bridges.end()) {
      return std::nullopt;
    }
    At = Up->At;
  }
  return std::nullopt;
}

void AddFunction(const JsonView& Place, PciSetup& Pci, sim::PciAddress At, UINT16 Vendor,
                 UINT16 Device) {
  if (Described(Pci, At)) {
    Place.Fail("a second PCI function at " + At.Text());
  }
  Pci.Functions.push_back({At, Vendor, Device});
}

// A device on a bridge's secondary bus: all its functions alike ("functions": n), or one of them
// ("function": f).
void DeviceFromJson(const JsonView& V, UINT8 Bus, PciSetup& Pci) {
  V.AllowOnly({"device", "function", "functions", "vendor", "device_id"});
  const UINT8 Device = static_cast<UINT8>(V["device"].Unsigned(0x1F));
  const UINT16 Vendor = VendorFromJson(V["vendor"]);
  const UINT16 DeviceId = static_cast<UINT16>(V["device_id"].Unsigned(0xFFFF));
  if (V.Has("function") && V.Has("functions")) {
    V.Fail("give \"function\" (one function) or \"functions\" (how many), not both");
  }
  if (V.Has("function")) {
    AddFunction(V, Pci, sim::PciAddress(Bus, Device, static_cast<UINT8>(V["function"].Unsigned(7))),
                Vendor, DeviceId);
    return;
  }
  const uint64_t Count = V.Has("functions") ? V["functions"].Unsigned(1, 8) : 1;
  for (UINT8 F = 0; F < Count; ++F) {
    AddFunction(V, Pci, sim::PciAddress(Bus, Device, F), Vendor, DeviceId);
  }
}

void BridgeFromJson(const JsonView& V, PciSetup& Pci) {
  V.AllowOnly({"at", "secondary_bus", "devices"});
  const sim::PciAddress At = PciAddressFromJson(V["at"]);
  if (Described(Pci, At)) {
    V["at"].Fail("a second PCI function at " + At.Text());
  }
  const UINT8 Secondary = static_cast<UINT8>(V["secondary_bus"].Unsigned(1, 0xFE));
  for (const PciBridgeSetup& B : Pci.Bridges) {
    if (B.SecondaryBus == Secondary) {
      V["secondary_bus"].Fail("bus " + std::to_string(Secondary) + " is already behind bridge " +
                              B.At.Text());
    }
  }
  Pci.Bridges.push_back({At, Secondary});
  if (V.Has("devices")) {
    const JsonView Devices = V["devices"];
    for (size_t I = 0; I < Devices.Size(); ++I) {
      DeviceFromJson(Devices[I], Secondary, Pci);
    }
  }
}

sim::ClpAnswer ClpAnswerFromJson(const JsonView& V) {
  sim::ClpAnswer A;
  if (V.Has("status_word")) {
    A.StatusWord = static_cast<UINT32>(V["status_word"].Unsigned(0xFFFFFFFF));
  }
  if (V.Has("efi_status")) {
    A.Status = StatusFromJson(V["efi_status"]);
  }
  return A;
}

ClpAnswerSetup AnswerFromJson(const JsonView& V) {
  V.AllowOnly({"call", "text", "hex", "times", "status_word", "efi_status"});
  ClpAnswerSetup A;
  const int Keys = V.Has("call") + V.Has("text") + V.Has("hex");
  if (Keys != 1) {
    V.Fail("give the \"call\" number or the command \"text\" (or \"hex\") it answers, one of them");
  }
  if (V.Has("call")) {
    A.Call = static_cast<unsigned>(V["call"].Unsigned(1, 1000000));
    if (V.Has("times")) {
      V["times"].Fail("a call number is answered once; \"times\" goes with a text");
    }
  } else {
    const JsonView T = V.Has("text") ? V["text"] : V["hex"];
    std::string Text;
    if (V.Has("text")) {
      Text = T.String();
    } else {
      const std::vector<uint8_t> Bytes = T.HexBytes();
      Text.assign(Bytes.begin(), Bytes.end());
    }
    if (Text.empty() || Text.size() > 255 || Text.find('\0') != std::string::npos) {
      T.Fail("a command text has 1 to 255 characters and no NUL");
    }
    A.Text = Text;
    if (V.Has("times")) {
      A.Times = static_cast<int>(V["times"].Unsigned(1, 1000000));
    }
  }
  A.Answer = ClpAnswerFromJson(V);
  return A;
}

AdapterDriverSetup DriverFromJson(const JsonView& V, size_t Number, const PciSetup& Pci) {
  V.AllowOnly({"name", "starts", "default_answer", "answers"});
  AdapterDriverSetup D;
  D.Name = V.Has("name") ? V["name"].String() : "driver " + std::to_string(Number + 1);
  if (D.Name.empty()) {
    V["name"].Fail("a driver's name is shown in the report; give it one");
  }
  if (V.Has("default_answer")) {
    V["default_answer"].AllowOnly({"status_word", "efi_status"});
    D.DefaultAnswer = ClpAnswerFromJson(V["default_answer"]);
  }
  if (V.Has("answers")) {
    for (size_t I = 0; I < V["answers"].Size(); ++I) {
      D.Answers.push_back(AnswerFromJson(V["answers"][I]));
    }
  }
  const JsonView Starts = V["starts"];
  for (size_t I = 0; I < Starts.Size(); ++I) {
    const JsonView S = Starts[I];
    S.AllowOnly({"on", "at_ms"});
    AdapterStartSetup Start;
    Start.On = PciAddressFromJson(S["on"]);
    if (FindPciFunction(Pci, Start.On) == nullptr) {
      S["on"].Fail("no adapter function at " + Start.On.Text() + " in pci");
    }
    if (const std::optional<sim::PciAddress> Missing = MissingFunctionZero(Pci, Start.On)) {
      S["on"].Fail("firmware does not see " + Start.On.Text() + ": " + Missing->Text() +
                   " is not in pci, and a device without function 0 is not there");
    }
    if (Pci.PciIoOrder && std::find(Pci.PciIoOrder->begin(), Pci.PciIoOrder->end(), Start.On) ==
                              Pci.PciIoOrder->end()) {
      S["on"].Fail(Start.On.Text() + " has no PCI I/O handle (it is not in pci.pci_io_order)");
    }
    for (const AdapterStartSetup& Earlier : D.Starts) {
      if (Earlier.On == Start.On) {
        S["on"].Fail("the driver starts on " + Start.On.Text() + " once");
      }
    }
    Start.AtMicroseconds = S.Has("at_ms") ? S["at_ms"].Unsigned(MaxMilliseconds) * Millisecond : 0;
    D.Starts.push_back(Start);
  }
  return D;
}

} // namespace

sim::PciAddress PciAddressFromJson(const JsonView& V) {
  const std::string Text = V.String();
  unsigned Bus = 0, Device = 0, Function = 0;
  const bool Shaped = Text.size() == 7 && Text[2] == ':' && Text[5] == '.' &&
                      std::all_of(Text.begin(), Text.end(), [](char C) {
                        return std::isxdigit(static_cast<unsigned char>(C)) || C == ':' || C == '.';
                      });
  if (!Shaped || std::sscanf(Text.c_str(), "%2x:%2x.%1x", &Bus, &Device, &Function) != 3 ||
      Device > 0x1F || Function > 7) {
    V.Fail("expected a PCI location \"bb:dd.f\" in hexadecimal (device up to 1F, function up to "
           "7), found \"" +
           Text + "\"");
  }
  return sim::PciAddress(static_cast<UINT8>(Bus), static_cast<UINT8>(Device),
                         static_cast<UINT8>(Function));
}

const PciFunctionSetup* FindPciFunction(const PciSetup& Pci, sim::PciAddress Address) {
  for (const PciFunctionSetup& F : Pci.Functions) {
    if (F.At == Address) {
      return &F;
    }
  }
  return nullptr;
}

void PciFromJson(const JsonView& V, AdapterSetup& Setup) {
  V.AllowOnly({"bridges", "functions", "pci_io_order"});
  PciSetup& Pci = Setup.Pci;
  if (V.Has("bridges")) {
    for (size_t I = 0; I < V["bridges"].Size(); ++I) {
      BridgeFromJson(V["bridges"][I], Pci);
    }
  }
  if (V.Has("functions")) {
    const JsonView Functions = V["functions"];
    for (size_t I = 0; I < Functions.Size(); ++I) {
      const JsonView F = Functions[I];
      F.AllowOnly({"at", "vendor", "device_id"});
      AddFunction(F["at"], Pci, PciAddressFromJson(F["at"]), VendorFromJson(F["vendor"]),
                  static_cast<UINT16>(F["device_id"].Unsigned(0xFFFF)));
    }
  }
  if (V.Has("pci_io_order")) {
    const JsonView Order = V["pci_io_order"];
    Pci.PciIoOrder.emplace();
    for (size_t I = 0; I < Order.Size(); ++I) {
      const sim::PciAddress At = PciAddressFromJson(Order[I]);
      if (!Described(Pci, At)) {
        Order[I].Fail("no PCI function at " + At.Text() + " in pci");
      }
      if (std::find(Pci.PciIoOrder->begin(), Pci.PciIoOrder->end(), At) != Pci.PciIoOrder->end()) {
        Order[I].Fail(At.Text() + " is given twice");
      }
      Pci.PciIoOrder->push_back(At);
    }
  }
}

void AdapterDriversFromJson(const JsonView& V, AdapterSetup& Setup) {
  if (V.Size() > sim::AdapterDrivers::MaxDrivers) {
    V.Fail(std::to_string(V.Size()) + " adapter drivers; the simulated blade holds at most " +
           std::to_string(sim::AdapterDrivers::MaxDrivers));
  }
  for (size_t I = 0; I < V.Size(); ++I) {
    AdapterDriverSetup D = DriverFromJson(V[I], I, Setup.Pci);
    for (const AdapterDriverSetup& Other : Setup.Drivers) {
      if (Other.Name == D.Name) {
        V[I]["name"].Fail("a second adapter driver named \"" + D.Name + "\"");
      }
    }
    Setup.Drivers.push_back(std::move(D));
  }
}

void MpServicesFromJson(const JsonView& V, AdapterSetup& Setup) {
  V.AllowOnly({"present", "processors", "startup_failure", "clock_modulation"});
  MpSetup& Mp = Setup.Mp;
  if (V.Has("present")) {
    Mp.Present = V["present"].Bool();
  }
  if (V.Has("processors")) {
    Mp.Processors = static_cast<UINTN>(V["processors"].Unsigned(1, MaxProcessors));
  }
  if (V.Has("startup_failure")) {
    Mp.StartupFailure = ErrorStatusFromJson(V["startup_failure"]);
  }
  if (V.Has("clock_modulation")) {
    Mp.ClockModulation = V["clock_modulation"].Unsigned(UINT64_MAX);
  }
}

std::vector<InputChange> InputChangesFromJson(const JsonView& V) {
  std::vector<InputChange> Changes;
  for (size_t I = 0; I < V.Size(); ++I) {
    const JsonView C = V[I];
    C.AllowOnly({"at_ms", "high"});
    const InputChange Change{C["at_ms"].Unsigned(MaxMilliseconds) * Millisecond, C["high"].Bool()};
    if (!Changes.empty() && Change.AtMicroseconds <= Changes.back().AtMicroseconds) {
      C["at_ms"].Fail("give the changes in time order, each later than the one before");
    }
    Changes.push_back(Change);
  }
  return Changes;
}

WaitMessageAnswer WaitMessageAnswerFromJson(const JsonView& V) {
  V.AllowOnly({"message", "code", "status", "times"});
  WaitMessageAnswer A;
  const std::string Message = V["message"].String();
  if (Message == "begins") {
    A.Message = WaitMessageAnswer::Which::Begins;
  } else if (Message == "ends") {
    A.Message = WaitMessageAnswer::Which::Ends;
  } else if (Message == "either") {
    A.Message = WaitMessageAnswer::Which::Either;
  } else {
    V["message"].Fail("expected \"begins\", \"ends\" or \"either\", found \"" + Message + "\"");
  }
  if (V.Has("code") == V.Has("status")) {
    V.Fail("give the completion \"code\" or the transport \"status\" of the answer, one of them");
  }
  if (V.Has("code")) {
    A.Code = static_cast<UINT8>(V["code"].Unsigned(1, 0xFF));
  } else {
    A.Status = ErrorStatusFromJson(V["status"]);
  }
  A.Times = V.Has("times") ? static_cast<int>(V["times"].Unsigned(1, 1000000)) : 1;
  return A;
}

bool IsWaitMessage(UINT8 NetFn, UINT8 Cmd, const UINT8* Data, UINT8 Size, bool Begins) {
  // NetFn 0x30, command 0x30: 02 00 00 "CF" when the wait begins, 02 00 00 "B2" when it ends.
  const UINT8 Tail[2] = {static_cast<UINT8>(Begins ? 'C' : 'B'),
                         static_cast<UINT8>(Begins ? 'F' : '2')};
  return NetFn == 0x30 && Cmd == 0x30 && Size == 5 && Data != nullptr && Data[0] == 0x02 &&
         Data[1] == 0 && Data[2] == 0 && Data[3] == Tail[0] && Data[4] == Tail[1];
}

void SetUpAdapters(sim::Blade& Blade, const AdapterSetup& Setup) {
  for (const PciBridgeSetup& B : Setup.Pci.Bridges) {
    Blade.Pci.Bridge(B.At, B.SecondaryBus);
  }
  for (const PciFunctionSetup& F : Setup.Pci.Functions) {
    Blade.Pci.Function(F.At, F.VendorId, F.DeviceId);
  }
  if (Setup.Pci.PciIoOrder) {
    Blade.Pci.SetPciIoOrder(*Setup.Pci.PciIoOrder);
  }
  for (const AdapterDriverSetup& D : Setup.Drivers) {
    sim::AdapterDriver& Driver = Blade.Adapters.Add(D.Name);
    if (D.DefaultAnswer) {
      Driver.AnswerByDefault(*D.DefaultAnswer);
    }
    for (const ClpAnswerSetup& A : D.Answers) {
      if (A.Call) {
        Driver.AnswerCall(*A.Call, A.Answer);
      } else {
        Driver.AnswerText(*A.Text, A.Answer, A.Times);
      }
    }
  }
  if (Setup.Mp.Processors) {
    Blade.Mp.SetApplicationProcessors(*Setup.Mp.Processors - 1);
  }
  if (Setup.Mp.StartupFailure) {
    Blade.Mp.FailStartupAllAPs(*Setup.Mp.StartupFailure, -1);
  }
  if (Setup.Mp.ClockModulation) {
    for (UINTN Cpu = 0; Cpu < Blade.Mp.ProcessorCount(); ++Cpu) {
      Blade.Platform.SetProcessorMsr(Cpu, sim::ClockModulationMsr, *Setup.Mp.ClockModulation);
    }
  }
  for (const InputChange& C : Setup.AdapterReadyChanges) {
    Blade.Platform.SetInputLevel(sim::AdapterReadyInputPort, sim::AdapterReadyInputBit, C.High,
                                 C.AtMicroseconds);
  }
  for (const InputChange& C : Setup.WaitEnableChanges) {
    Blade.Platform.SetInputLevel(sim::AdapterWaitInputPort, sim::AdapterWaitInputBit, C.High,
                                 C.AtMicroseconds);
  }
}

} // namespace tools
