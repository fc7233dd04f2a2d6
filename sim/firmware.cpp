#include "sim/firmware.h"

#include <cstdio>

#include "sim/current_instance.h"
#include "sim/firmware_impl.h"
#include "sim/problems.h"

namespace sim {
Firmware::Impl& CurrentFirmware() {
  Firmware::Impl& Current = *CurrentInstance<Firmware>::Get("a firmware service").I;
  if (Current.ApRunning != 0) {
    ReportProblem("application processor " + std::to_string(Current.ApRunning) +
                  " called a firmware service; procedures run by MP services may call none");
  }
  return Current;
}

std::string HexPointer(const void* P) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%p", P);
  return Text;
}

namespace {

// The reflected CRC-32 of polynomial 0x04C11DB7, a byte at a time.
struct Crc32Table {
  UINT32 Entries[256];
  constexpr Crc32Table() : Entries() {
    for (UINT32 Byte = 0; Byte < 256; ++Byte) {
      UINT32 Crc = Byte;
      for (int Bit = 0; Bit < 8; ++Bit) {
        Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
      }
      Entries[Byte] = Crc;
    }
  }
};
constexpr Crc32Table Crc32Bytes;

} // namespace

UINT32 Crc32(const void* Data, size_t Size) {
  const auto* P = static_cast<const UINT8*>(Data);
  UINT32 Crc = 0xFFFFFFFFu;
  for (size_t I = 0; I < Size; ++I) {
    Crc = (Crc >> 8) ^ Crc32Bytes.Entries[(Crc ^ P[I]) & 0xFF];
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
  ++Calls_;
  if (Armed_.empty()) {
    return std::nullopt;
  }
  auto It = Armed_.find(Calls_);
  if (It == Armed_.end()) {
    return std::nullopt;
  }
  EFI_STATUS Status = It->second;
  Armed_.erase(It);
  return Status;
}

Firmware::Firmware() : I(std::make_unique<Impl>(*this)) {
  Calls_.reserve(64); // a platform pass of 32 commands makes about 40 calls of record
  FillServiceTables(SystemTable_, BootServices_, RuntimeServices_);
  ImageHandle_ = I->NewHandle();
  CurrentInstance<Firmware>::Add(this);
}

Firmware::~Firmware() {
  CurrentInstance<Firmware>::Remove(this);
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

void Firmware::FailLocateProtocol(unsigned Nth, EFI_STATUS Status) {
  I->LocateProtocolFailures.Arm(Nth, Status);
}

uint64_t Firmware::LocateProtocolCalls() const {
  return I->LocateProtocolFailures.Calls();
}

uint64_t Firmware::LocateHandleBufferCalls() const {
  return I->LocateHandleBufferFailures.Calls();
}

uint64_t Firmware::HandleProtocolCalls() const {
  return I->HandleProtocolFailures.Calls();
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
