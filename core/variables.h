// The five UEFI variables the driver reads and rewrites, their field map, and the small operations
// several subsystems share. The driver never creates these variables; it always reads the whole
// variable, changes single fields and writes the whole buffer back.
#pragma once

#include "uefi/tables.h"

struct PlatformVariable {
  const CHAR16* Name;
  EFI_GUID Guid;
  UINTN Size;
  UINT32 Attributes;
};

constexpr EFI_GUID TalBladeDataGuid = {
    0x3C095E8C, 0x7653, 0x11E1, {0xA8, 0xEB, 0x08, 0x00, 0x27, 0xFA, 0x6E, 0x7F}};
constexpr EFI_GUID SystemSetupGuid = {
    0xEC87D643, 0xEBA4, 0x4BB5, {0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9}};
constexpr EFI_GUID ServerSetupGuid = {
    0x01239999, 0xFC0E, 0x4B6E, {0x9E, 0x79, 0xD5, 0x4D, 0x5D, 0xB6, 0xCD, 0x20}};

constexpr UINT32 VolatileAttributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 NonVolatileAttributes = VolatileAttributes | EFI_VARIABLE_NON_VOLATILE;

constexpr PlatformVariable TalBladeData = {u"TalBladeData", TalBladeDataGuid, 280,
                                           VolatileAttributes};
constexpr PlatformVariable SystemSetup = {u"Setup", SystemSetupGuid, 731, NonVolatileAttributes};
constexpr PlatformVariable ServerSetup = {u"Setup", ServerSetupGuid, 102, NonVolatileAttributes};
constexpr PlatformVariable CLPFailureFlag = {u"CLPFailureFlag", TalBladeDataGuid, 1,
                                             VolatileAttributes};
constexpr PlatformVariable ClpCommandFruIdList = {u"ClpCommandFruIdList", TalBladeDataGuid, 6,
                                                  VolatileAttributes};

// Byte offsets of the TalBladeData fields (multi-byte fields are little-endian).
namespace TalBladeField {
constexpr UINTN UuidValid = 0;
constexpr UINTN SerialValid = 1;
constexpr UINTN AdapterReadyWait = 2;
constexpr UINTN Ipl1Device = 3;
constexpr UINTN Uuid = 4;
constexpr UINTN Serial = 20;
constexpr UINTN DeviceEnableMask = 152;
constexpr UINTN DeviceDisableMask = 156;
constexpr UINTN NetBootFlags = 164;
constexpr UINTN PendingMask14E4 = 172;
constexpr UINTN NparRestoreMask = 176;
constexpr UINTN DeferredReset = 180;
constexpr UINTN PendingMask8086 = 188;
constexpr UINTN FcoeValue = 200;
constexpr UINTN PendingMask10DF = 212;
constexpr UINTN ClpFailurePause = 276;
} // namespace TalBladeField

// Bits of the UINT16 NetBootFlags field.
namespace NetBootFlag {
constexpr UINT16 StorageBootMode = 0x000F; // a whole nibble: 9 iSCSI on, 0xA iSCSI off, 0xE FCoE
constexpr UINT16 FcPermAddr11 = 0x0010;
constexpr UINT16 FcPermAddr12 = 0x0020;
constexpr UINT16 FcPermAddr21 = 0x0040;
constexpr UINT16 FcPermAddr22 = 0x0100;
constexpr UINT16 PxePermAddr = 0x0200;
} // namespace NetBootFlag

// Byte offsets of the SystemSetup fields the driver touches (all single bytes).
namespace SystemSetupField {
constexpr UINTN ActiveCore4 = 51;
constexpr UINTN ActiveCore2 = 56;
constexpr UINTN ActiveCore6 = 57;
constexpr UINTN ActiveCoreOther = 58;
constexpr UINTN Numa = 112;
constexpr UINTN SasMode = 331;
constexpr UINTN AcLinkCache = 408;
constexpr UINTN SwRaid = 448;
constexpr UINTN ConRedirectAux1 = 512;
constexpr UINTN ConRedirectAux2 = 513;
constexpr UINTN ConRedirect = 597;
constexpr UINTN Sio1Dac = 604;
constexpr UINTN Iov1Bus1 = 639; // Iov1Bus1..Iov1Bus4 then Iov2Bus1..Iov2Bus4, one byte each
} // namespace SystemSetupField

// Byte offset of the one ServerSetup field the driver touches.
namespace ServerSetupField {
constexpr UINTN AcLink = 2;
} // namespace ServerSetupField

// Ipl1Device value for a network first boot device.
constexpr UINT8 Ipl1Network = 8;

// SetBladeDataByte indexes (1-based: index 1 is TalBladeData byte 0).
constexpr UINT8 BladeByteUuidValid = 1;
constexpr UINT8 BladeByteSerialValid = 2;
constexpr UINT8 BladeByteAdapterReadyWait = 3;
constexpr UINT8 BladeByteIpl1Device = 4;

constexpr UINTN FruIdListEntries = 6;

// Reads the whole variable into Buffer (Var.Size bytes). DataSize receives the size the firmware
// returned. A failing read returns the firmware's status unchanged.
EFI_STATUS ReadPlatformVariable(const PlatformVariable& Var, void* Buffer, UINTN* DataSize);

// Writes DataSize bytes of Buffer with the variable's attributes.
EFI_STATUS WritePlatformVariable(const PlatformVariable& Var, void* Buffer, UINTN DataSize);

// Stores Value into TalBladeData byte Index - 1 for Index 1 to 4; any other index rewrites the
// variable unchanged.
EFI_STATUS SetBladeDataByte(UINT8 Index, UINT8 Value);

// Clears every ClpCommandFruIdList entry equal to FruId; writes the list back only when one
// matched.
void ClearPendingFruId(UINT8 FruId);

// EFI_ABORTED with the first listed FRU id when any entry is nonzero; the read's status otherwise.
EFI_STATUS FindPendingFruId(UINT8* FruId);
