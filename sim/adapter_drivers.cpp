// The simulated adapter drivers: their AdapterClpProtocol records, one Execute function per
// driver, and the script each answers from.
#include "sim/adapter_drivers.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "sim/current_instance.h"
#include "sim/firmware.h"
#include "sim/problems.h"

namespace sim {
namespace {

// What the caller promises: a 256-byte command buffer and a 4096-byte response buffer.
constexpr size_t CommandBufferSize = 256;
constexpr size_t ResponseBufferSize = 4096;

// The records' UINT32 at offset 8: the driver's own mark, "CL" and its slot.
constexpr UINT32 SignatureBase = 0x434C0000;

// Each driver has an Execute of its own, so that a call shows which driver's function was used.
template <size_t Slot>
EFI_STATUS EFIAPI ExecuteThunk(ADAPTER_CLP_PROTOCOL* This, CHAR8* CommandText, CHAR8* Response,
                               UINT32* Status) {
  AdapterDrivers* Drivers = CurrentInstance<AdapterDrivers>::Find("an adapter driver's Execute");
  return Drivers != nullptr ? Drivers->Execute(Slot, This, CommandText, Response, Status)
                            : EFI_DEVICE_ERROR;
}

template <size_t... Slot>
constexpr std::array<ADAPTER_CLP_EXECUTE, sizeof...(Slot)>
MakeThunks(std::index_sequence<Slot...>) {
  return {ExecuteThunk<Slot>...};
}
constexpr auto ExecuteThunks = MakeThunks(std::make_index_sequence<AdapterDrivers::MaxDrivers>());

} // namespace

AdapterDriver::AdapterDriver(std::string Name, size_t Slot)
    : Name_(std::move(Name)), Slot_(Slot), Signature_(SignatureBase | static_cast<UINT32>(Slot)) {}

AdapterDriver& AdapterDriver::AnswerByDefault(ClpAnswer Answer) {
  Default_ = Answer;
  return *this;
}

AdapterDriver& AdapterDriver::AnswerCall(unsigned Number, ClpAnswer Answer) {
  ByNumber_.emplace_back(Number, Answer);
  return *this;
}

AdapterDriver& AdapterDriver::AnswerText(const std::string& Text, ClpAnswer Answer, int Times) {
  ByText_.push_back(TextAnswer{Text, Answer, Times});
  return *this;
}

std::vector<std::string> AdapterDriver::Texts() const {
  std::vector<std::string> Out;
  for (const ExecuteCall& C : Calls_) {
    Out.push_back(C.Text);
  }
  return Out;
}

void AdapterDriver::ClearCalls() {
  Calls_.clear();
}

std::vector<PciAddress> AdapterDriver::StartedOn() const {
  std::vector<PciAddress> Out;
  for (const auto& I : Instances_) {
    if (I->Function) {
      Out.push_back(*I->Function);
    }
  }
  return Out;
}

const AdapterDriver::Instance* AdapterDriver::InstanceOn(PciAddress Function) const {
  for (const auto& I : Instances_) {
    if (I->Function && *I->Function == Function) {
      return I.get();
    }
  }
  return nullptr;
}

EFI_HANDLE AdapterDriver::Handle(PciAddress Function) const {
  const Instance* I = InstanceOn(Function);
  return I != nullptr ? I->Handle : nullptr;
}

ADAPTER_CLP_PROTOCOL* AdapterDriver::Record(PciAddress Function) const {
  const Instance* I = InstanceOn(Function);
  return I != nullptr ? const_cast<ADAPTER_CLP_PROTOCOL*>(&I->Record) : nullptr;
}

ClpAnswer AdapterDriver::AnswerFor(unsigned Number, const std::string& Text) {
  for (const auto& [N, Answer] : ByNumber_) {
    if (N == Number) {
      return Answer;
    }
  }
  for (TextAnswer& T : ByText_) {
    if (T.Times != 0 && T.Text == Text) {
      T.Times -= T.Times > 0 ? 1 : 0;
      return T.Answer;
    }
  }
  return Default_;
}

AdapterDrivers::AdapterDrivers(Firmware& Firmware, PciBus& Pci) : Firmware_(Firmware), Pci_(Pci) {
  CurrentInstance<AdapterDrivers>::Add(this);
}

AdapterDrivers::~AdapterDrivers() {
  CurrentInstance<AdapterDrivers>::Remove(this);
}

AdapterDriver& AdapterDrivers::Add(const std::string& Name) {
  if (Drivers_.size() == MaxDrivers) {
    throw std::logic_error("a blade holds at most " + std::to_string(MaxDrivers) +
                           " simulated adapter drivers");
  }
  Drivers_.push_back(std::unique_ptr<AdapterDriver>(new AdapterDriver(Name, Drivers_.size())));
  return *Drivers_.back();
}

EFI_STATUS AdapterDrivers::Start(AdapterDriver& Driver, PciAddress Function) {
  if (Driver.Record(Function) != nullptr) {
    return EFI_ALREADY_STARTED;
  }
  EFI_HANDLE Controller = Pci_.PciIoHandle(Function); // a problem when there is none
  if (Controller == nullptr) {
    return EFI_NOT_FOUND;
  }
  return Install(Driver, Function, Controller);
}

EFI_STATUS AdapterDrivers::StartOnController(AdapterDriver& Driver, EFI_HANDLE Controller) {
  return Install(Driver, Pci_.LocationOf(Controller), Controller);
}

EFI_STATUS AdapterDrivers::Install(AdapterDriver& Driver, std::optional<PciAddress> Function,
                                   EFI_HANDLE Controller) {
  Driver.Instances_.push_back(std::make_unique<AdapterDriver::Instance>());
  AdapterDriver::Instance& I = *Driver.Instances_.back();
  I.Function = Function;
  I.Record.ControllerHandle = Controller;
  I.Record.Reserved = Driver.Signature_;
  I.Record.Execute = ExecuteThunks[Driver.Slot_];
  // Through the boot service, as a driver installs it: the notifications run inside.
  EFI_BOOT_SERVICES* Bs = Firmware_.SystemTable()->BootServices;
  return Bs->InstallProtocolInterface(&I.Handle, const_cast<EFI_GUID*>(&AdapterClpProtocolGuid),
                                      EFI_NATIVE_INTERFACE, &I.Record);
}

void AdapterDrivers::StartBoot() {
  for (auto& D : Drivers_) {
    D->Instances_.clear();
  }
}

EFI_STATUS AdapterDrivers::Execute(size_t Slot, ADAPTER_CLP_PROTOCOL* This, CHAR8* CommandText,
                                   CHAR8* Response, UINT32* Status) {
  AdapterDriver& Driver = *Drivers_.at(Slot);
  ExecuteCall Call{};
  Call.Time = Firmware_.Clock.Now();
  Call.Number = static_cast<unsigned>(Driver.Calls_.size() + 1);
  Call.This = This;
  if (This == nullptr || CommandText == nullptr || Response == nullptr || Status == nullptr) {
    Call.Answer = ClpAnswer{0, EFI_INVALID_PARAMETER};
    Driver.Calls_.push_back(Call);
    return EFI_INVALID_PARAMETER;
  }
  for (const auto& I : Driver.Instances_) {
    Call.ThisInstalled = Call.ThisInstalled || &I->Record == This;
  }
  std::memcpy(&Call.Reserved, reinterpret_cast<const UINT8*>(This) + 8, sizeof Call.Reserved);
  std::memcpy(&Call.Controller, This, sizeof Call.Controller);
  Call.Location = Pci_.LocationOf(Call.Controller);
  Call.StartedOn = Call.Location && Driver.Record(*Call.Location) != nullptr;
  const size_t Length = strnlen(CommandText, CommandBufferSize);
  Call.Text.assign(CommandText, Length);
  Call.Terminated = Length < CommandBufferSize;
  Call.ResponseZeroed = true;
  for (size_t I = 0; I < ResponseBufferSize; ++I) {
    Call.ResponseZeroed = Call.ResponseZeroed && Response[I] == 0;
  }

  if (!Call.Location) {
    // A controller that is no PCI function: nothing this driver can configure.
    Call.Answer = ClpAnswer{0, EFI_INVALID_PARAMETER};
  } else {
    Call.Answer = Driver.AnswerFor(Call.Number, Call.Text);
    *Status = Call.Answer.StatusWord;
    // The adapter's answer text; the caller never reads it.
    std::snprintf(Response, ResponseBufferSize, "status=0x%04X", Call.Answer.StatusWord);
  }
  Driver.Calls_.push_back(Call);
  return Call.Answer.Status;
}

} // namespace sim
