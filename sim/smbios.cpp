// The simulated SMBIOS table behind SmbiosEditProtocol.
#include "sim/smbios.h"

#include <cstring>
#include <string>

#include "sim/current_instance.h"
#include "sim/firmware.h"
#include "sim/problems.h"

namespace sim {
namespace {

constexpr UINT8 SystemInfoType = 1;
constexpr UINT8 SystemInfoLength = 0x1B;

// The protocol passes no interface pointer.
Smbios* CurrentSmbios() {
  return CurrentInstance<Smbios>::Find("SmbiosEditProtocol");
}

EFI_STATUS EFIAPI GetThunk(UINT8 Type, UINT8 Instance, UINT8** Structure, UINT16* Size) {
  Smbios* S = CurrentSmbios();
  return S != nullptr ? S->Get(Type, Instance, Structure, Size) : EFI_DEVICE_ERROR;
}

EFI_STATUS EFIAPI UpdateThunk(UINT16 Handle, UINT8* Structure, UINT16 Size) {
  Smbios* S = CurrentSmbios();
  return S != nullptr ? S->Update(Handle, Structure, Size) : EFI_DEVICE_ERROR;
}

UINT16 HandleOf(const std::vector<UINT8>& Bytes) {
  return static_cast<UINT16>(Bytes[2] | (Bytes[3] << 8));
}

} // namespace

std::vector<UINT8> SystemInformationStructure(UINT16 Handle, const UINT8 (&Uuid)[16]) {
  std::vector<UINT8> Bytes(SystemInfoLength, 0);
  Bytes[0] = SystemInfoType;
  Bytes[1] = SystemInfoLength;
  Bytes[2] = static_cast<UINT8>(Handle);
  Bytes[3] = static_cast<UINT8>(Handle >> 8);
  Bytes[4] = 1; // manufacturer: string 1
  Bytes[5] = 2; // product name: string 2
  std::memcpy(&Bytes[SmbiosUuidOffset], Uuid, sizeof(Uuid));
  Bytes[24] = 6; // wake-up type: power switch
  for (const char* Text : {"Blade maker", "Blade"}) {
    Bytes.insert(Bytes.end(), Text, Text + std::strlen(Text) + 1);
  }
  Bytes.push_back(0); // end of the string set
  return Bytes;
}

Smbios::Smbios(Pool& Pool) : Pool_(Pool) {
  Protocol_.GetStructure = GetThunk;
  Protocol_.UpdateStructure = UpdateThunk;
  constexpr UINT8 FactoryUuid[16] = {0x4C, 0x4C, 0x45, 0x44, 0x00, 0x10, 0x20, 0x80,
                                     0x80, 0x31, 0xB2, 0xC0, 0x4F, 0x42, 0x33, 0x32};
  SetStructure(SystemInfoHandle, SystemInformationStructure(SystemInfoHandle, FactoryUuid));
  CurrentInstance<Smbios>::Add(this);
}

Smbios::~Smbios() {
  CurrentInstance<Smbios>::Remove(this);
}

void Smbios::SetStructure(UINT16 Handle, const std::vector<UINT8>& Bytes) {
  if (Bytes.size() < 4 || HandleOf(Bytes) != Handle) {
    ReportProblem("an SMBIOS structure must start with a header carrying its handle " +
                  std::to_string(Handle));
    return;
  }
  Structures_[Handle] = Bytes;
}

std::optional<std::vector<UINT8>> Smbios::Structure(UINT16 Handle) const {
  auto It = Structures_.find(Handle);
  if (It == Structures_.end()) {
    return std::nullopt;
  }
  return It->second;
}

std::vector<UINT8> Smbios::SystemUuid() const {
  for (const auto& [Handle, Bytes] : Structures_) {
    if (Bytes[0] == SystemInfoType && Bytes.size() >= SmbiosUuidOffset + 16) {
      return {Bytes.begin() + SmbiosUuidOffset, Bytes.begin() + SmbiosUuidOffset + 16};
    }
  }
  return {};
}

EFI_STATUS Smbios::Get(UINT8 Type, UINT8 Instance, UINT8** Structure, UINT16* Size) {
  ++GetCalls_;
  if (GetFailure_ != 0) {
    return GetFailure_;
  }
  if (Structure == nullptr || Size == nullptr || Instance == 0) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 Seen = 0;
  for (const auto& [Handle, Bytes] : Structures_) {
    if (Bytes[0] != Type || ++Seen != Instance) {
      continue;
    }
    EFI_STATUS Status = EFI_SUCCESS;
    void* Copy = Pool_.Allocate(Bytes.size(), EfiBootServicesData, &Status);
    if (Copy == nullptr) {
      return Status;
    }
    std::memcpy(Copy, Bytes.data(), Bytes.size());
    *Structure = static_cast<UINT8*>(Copy);
    *Size = static_cast<UINT16>(Bytes.size());
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS Smbios::Update(UINT16 Handle, UINT8* Structure, UINT16 Size) {
  ++UpdateCalls_;
  if (UpdateFailure_ != 0) {
    return UpdateFailure_;
  }
  if (Structure == nullptr || Size < 4) {
    return EFI_INVALID_PARAMETER;
  }
  auto It = Structures_.find(Handle);
  if (It == Structures_.end()) {
    return EFI_NOT_FOUND;
  }
  // The table keeps the handle whatever the new bytes say, as a remove-then-add would.
  std::vector<UINT8> Bytes(Structure, Structure + Size);
  Bytes[2] = static_cast<UINT8>(Handle);
  Bytes[3] = static_cast<UINT8>(Handle >> 8);
  It->second = std::move(Bytes);
  return EFI_SUCCESS;
}

} // namespace sim
