// The outside protocols the driver talks to or watches, as other firmware drivers install them.
#pragma once

#include "uefi/types.h"

// BMC transport. Only SendIpmiCommand, the second member, is used. On success the response holds
// the bytes after the completion code; a nonzero completion code returns EFI_DEVICE_ERROR with the
// code in response byte 0.
struct IPMI_TRANSPORT_PROTOCOL;
typedef EFI_STATUS(EFIAPI* IPMI_SEND_COMMAND)(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFunction,
                                              UINT8 Lun, UINT8 Command, UINT8* RequestData,
                                              UINT8 RequestDataSize, UINT8* ResponseData,
                                              UINT8* ResponseDataSize);
struct IPMI_TRANSPORT_PROTOCOL {
  void* Reserved;
  IPMI_SEND_COMMAND SendIpmiCommand;
};
static_assert(offsetof(IPMI_TRANSPORT_PROTOCOL, SendIpmiCommand) == 8, "SendIpmiCommand");

// Numbered questions about the platform; the first member answers them, with no interface pointer.
typedef EFI_STATUS(EFIAPI* PLATFORM_INFO_QUERY)(UINTN Index, UINT64* Value);
struct PLATFORM_INFO_PROTOCOL {
  PLATFORM_INFO_QUERY Query;
};
static_assert(offsetof(PLATFORM_INFO_PROTOCOL, Query) == 0, "Query");

// Installed by every network and storage adapter driver. A packed 20-byte record: Execute sits at
// offset 12, so it is not 8-byte aligned.
struct ADAPTER_CLP_PROTOCOL;
typedef EFI_STATUS(EFIAPI* ADAPTER_CLP_EXECUTE)(ADAPTER_CLP_PROTOCOL* This, CHAR8* CommandText,
                                                CHAR8* Response, UINT32* Status);
#pragma pack(push, 1)
struct ADAPTER_CLP_PROTOCOL {
  EFI_HANDLE ControllerHandle;
  UINT32 Reserved;
  ADAPTER_CLP_EXECUTE Execute;
};
#pragma pack(pop)
static_assert(sizeof(ADAPTER_CLP_PROTOCOL) == 20, "AdapterClpProtocol record");
static_assert(offsetof(ADAPTER_CLP_PROTOCOL, Execute) == 12, "Execute");

constexpr EFI_GUID AdapterClpProtocolGuid = {
    0xCBBEE336, 0x2682, 0x4CD6, {0x81, 0x8B, 0x0A, 0x0D, 0x96, 0x7E, 0x5A, 0x67}};
constexpr EFI_GUID CompletionSignalProtocolGuid = {
    0xDBC9FD21, 0xFAD8, 0x45B0, {0x9E, 0x78, 0x27, 0x15, 0x88, 0x67, 0xCC, 0x93}};
constexpr EFI_GUID IpmiTransportProtocolGuid = {
    0x6BB945E8, 0x3743, 0x433E, {0xB9, 0x0E, 0x29, 0xB3, 0x0D, 0x5D, 0xC6, 0x30}};
constexpr EFI_GUID PlatformInfoProtocolGuid = {
    0x2E65E620, 0x61FB, 0x11DE, {0x9B, 0xA7, 0x00, 0x21, 0x85, 0x14, 0x02, 0x96}};

// Edits one SMBIOS structure in place. The first eight members belong to its provider; the driver
// uses only the last two, which take no interface pointer. GetStructure hands back a copy in
// boot-services pool memory that the caller frees; UpdateStructure replaces the structure that has
// the given handle, which keeps its handle.
typedef EFI_STATUS(EFIAPI* SMBIOS_EDIT_GET_STRUCTURE)(UINT8 Type, UINT8 Instance, UINT8** Structure,
                                                      UINT16* Size);
typedef EFI_STATUS(EFIAPI* SMBIOS_EDIT_UPDATE_STRUCTURE)(UINT16 Handle, UINT8* Structure,
                                                         UINT16 Size);
struct SMBIOS_EDIT_PROTOCOL {
  void* ProviderMembers[8];
  SMBIOS_EDIT_GET_STRUCTURE GetStructure;
  SMBIOS_EDIT_UPDATE_STRUCTURE UpdateStructure;
};
static_assert(offsetof(SMBIOS_EDIT_PROTOCOL, GetStructure) == 64, "GetStructure");
static_assert(offsetof(SMBIOS_EDIT_PROTOCOL, UpdateStructure) == 72, "UpdateStructure");

constexpr EFI_GUID SmbiosEditProtocolGuid = {
    0x5E90A50D, 0x6955, 0x4A49, {0x90, 0x32, 0xDA, 0x38, 0x12, 0xF8, 0xE8, 0xE5}};
