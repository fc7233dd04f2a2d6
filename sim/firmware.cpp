#include "sim/firmware.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "sim/firmware_impl.h"
#include "sim/problems.h"

namespace sim {
namespace {

// Stacked so that a test may build a second firmware for a moment; the thunks use the newest.
std::vector<Firmware*>& FirmwareStack() {
  static std::vector<Firmware*> Stack;
  return Stack;
}

} // namespace

Firmware::Impl& CurrentFirmware() {
  if (FirmwareStack().empty()) {
    ReportProblem("a firmware service was called with no simulated firmware alive");
    throw std::logic_error("no simulated firmware");
  }
  return *FirmwareStack().back()->I;
}

void PushCurrentFirmware(Firmware* F) {
  FirmwareStack().push_back(F);
}

void PopCurrentFirmware(Firmware* F) {
  auto& Stack = FirmwareStack();
  Stack.erase(std::remove(Stack.begin(), Stack.end(), F), Stack.end());
}

std::string HexPointer(const void* P) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%p", P);
  return Text;
}

std::string GuidText(const EFI_GUID& G) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", G.Data1,
                G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3], G.Data4[4],
                G.Data4[5], G.Data4[6], G.Data4[7]);
  return Text;
}

UINT32 Crc32(const void* Data, size_t Size) {
  const auto* P = static_cast<const UINT8*>(Data);
  UINT32 Crc = 0xFFFFFFFFu;
  for (size_t I = 0; I < Size; ++I) {
    Crc ^= P[I];
    for (int Bit = 0; Bit < 8; ++Bit) {
      Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
    }
  }
  return ~Crc;
}

void NthCallFailures::Arm(unsigned Nth, EFI_STATUS Status) {
  if (Nth == 0) {
    ReportProblem("a failure was armed for call 0; the next call is 1");
    return;
  }
  Armed_[Calls_ + Nth] = Status;
}

std::optional<EFI_STATUS> NthCallFailures::NextCall() {
  auto It = Armed_.find(++Calls_);
  if (It == Armed_.end()) {
    return std::nullopt;
  }
  EFI_STATUS Status = It->second;
  Armed_.erase(It);
  return Status;
}

Firmware::Firmware() : I(std::make_unique<Impl>(*this)) {
  FillServiceTables(SystemTable_, BootServices_, RuntimeServices_);
  ImageHandle_ = I->NewHandle();
  PushCurrentFirmware(this);
}

Firmware::~Firmware() {
  PopCurrentFirmware(this);
  I->Clear();
}

EFI_STATUS Firmware::Install(EFI_HANDLE* Handle, const EFI_GUID& Guid, void* Interface) {
  return I->Install(Handle, &Guid, EFI_NATIVE_INTERFACE, Interface);
}

EFI_STATUS Firmware::Uninstall(EFI_HANDLE Handle, const EFI_GUID& Guid, void* Interface) {
  return I->Uninstall(Handle, &Guid, Interface);
}

std::vector<EFI_HANDLE> Firmware::HandlesWith(const EFI_GUID& Guid) const {
  return I->HandlesInInstallOrder(Guid);
}

void Firmware::FailCreateEvent(unsigned Nth, EFI_STATUS Status) {
  I->CreateEventFailures.Arm(Nth, Status);
}

void Firmware::FailRegisterProtocolNotify(unsigned Nth, EFI_STATUS Status) {
  I->RegisterNotifyFailures.Arm(Nth, Status);
}

void Firmware::FailLocateHandleBuffer(unsigned Nth, EFI_STATUS Status) {
  I->LocateHandleBufferFailures.Arm(Nth, Status);
}

void Firmware::FailHandleProtocol(unsigned Nth, EFI_STATUS Status) {
  I->HandleProtocolFailures.Arm(Nth, Status);
}

size_t Firmware::EventCount() const {
  return I->Events.size();
}

void Firmware::NewBoot() {
  Pool.ReportLeaks("at power cycle");
  I->Clear();
  Calls_.clear();
  Tpl_ = TPL_APPLICATION;
  ImageHandle_ = I->NewHandle();
  Clock.StartBoot();
}

void Firmware::Impl::Clear() {
  Registrations.clear();
  Events.clear();
  Handles.clear();
}

EFI_HANDLE Firmware::Impl::NewHandle() {
  Handles.push_back(std::make_unique<HandleRecord>());
  return Handles.back().get();
}

HandleRecord* Firmware::Impl::FindHandle(EFI_HANDLE Handle) const {
  for (const auto& H : Handles) {
    if (H.get() == Handle) {
      return H.get();
    }
  }
  return nullptr;
}

EventRecord* Firmware::Impl::FindEvent(EFI_EVENT Event) const {
  for (const auto& E : Events) {
    if (E.get() == Event) {
      return E.get();
    }
  }
  return nullptr;
}

Registration* Firmware::Impl::FindRegistration(const void* Key) const {
  for (const auto& R : Registrations) {
    if (R.get() == Key) {
      return R.get();
    }
  }
  return nullptr;
}

InterfaceRecord* Firmware::Impl::FindInterface(HandleRecord& Handle, const EFI_GUID& Guid) {
  for (auto& P : Handle.Protocols) {
    if (GuidEquals(P.Guid, Guid)) {
      return &P;
    }
  }
  return nullptr;
}

void Firmware::Impl::ResetSystem(EFI_RESET_TYPE Type, EFI_STATUS Status) {
  F.Resets_.push_back(ResetRecord{Type, Status, F.Clock.Now()});
  throw SimulatedReset{Type, Status};
}

EFI_STATUS Firmware::Impl::Stall(UINTN Microseconds) {
  F.Stalls_.push_back(Microseconds);
  F.Clock.Advance(Microseconds);
  return EFI_SUCCESS;
}

} // namespace sim
