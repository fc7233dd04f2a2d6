// The simulated SMBIOS table behind SmbiosEditProtocol: structures by handle, a System Information
// (type 1) structure present from the start, injectable failures, and a count of the calls.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/protocols.h"

namespace sim {

class Pool;

constexpr UINT16 SystemInfoHandle = 0x0001;
constexpr size_t SmbiosUuidOffset = 8;

class Smbios {
public:
  explicit Smbios(Pool& Pool);
  ~Smbios();
  Smbios(const Smbios&) = delete;
  Smbios& operator=(const Smbios&) = delete;

  SMBIOS_EDIT_PROTOCOL* Protocol() { return &Protocol_; }

  // A structure with its string set, as the table holds it; replaces any with the same handle.
  void SetStructure(UINT16 Handle, const std::vector<UINT8>& Bytes);
  std::optional<std::vector<UINT8>> Structure(UINT16 Handle) const;
  void RemoveAll() { Structures_.clear(); }

  // The UUID field of the first type 1 structure (16 bytes), empty when there is none.
  std::vector<UINT8> SystemUuid() const;

  void FailGet(EFI_STATUS Status) { GetFailure_ = Status; }
  void FailUpdate(EFI_STATUS Status) { UpdateFailure_ = Status; }
  unsigned GetCalls() const { return GetCalls_; }
  unsigned UpdateCalls() const { return UpdateCalls_; }

  // Protocol behaviour.
  EFI_STATUS Get(UINT8 Type, UINT8 Instance, UINT8** Structure, UINT16* Size);
  EFI_STATUS Update(UINT16 Handle, UINT8* Structure, UINT16 Size);

private:
  Pool& Pool_;
  SMBIOS_EDIT_PROTOCOL Protocol_{};
  std::map<UINT16, std::vector<UINT8>> Structures_; // by handle, in handle order
  EFI_STATUS GetFailure_ = 0;
  EFI_STATUS UpdateFailure_ = 0;
  unsigned GetCalls_ = 0;
  unsigned UpdateCalls_ = 0;
};

// A type 1 structure of SMBIOS 2.6 (27 formatted bytes and two strings) with the given handle.
std::vector<UINT8> SystemInformationStructure(UINT16 Handle, const UINT8 (&Uuid)[16]);

} // namespace sim
