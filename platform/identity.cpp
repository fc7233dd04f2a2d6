// System UUID and serial number: parsed from command text into TalBladeData, and passed on to
// SMBIOS and the BMC.
#include "platform/identity.h"

#include "core/byte_format.h"
#include "core/driver_state.h"
#include "core/ipmi.h"
#include "core/pool.h"
#include "core/variables.h"
#include "platform/text.h"

namespace {

constexpr UINTN SmbiosSystemInfoType = 1;
constexpr UINTN SmbiosHandleOffset = 2;
constexpr UINTN SmbiosUuidOffset = 8;

} // namespace

void StoreUuidText(const CHAR8* Text, UINT8* BladeData) {
  BladeData[TalBladeField::UuidValid] = 1;
  const UINTN LastByte = TalBladeField::Uuid + UuidLength - 1;
  for (UINTN Pair = 0; Pair < UuidLength; ++Pair) {
    const CHAR8 High = Text[2 * Pair];
    // A text that ends on the pair's first digit must not be read past its NUL.
    const CHAR8 Low = High != 0 ? Text[2 * Pair + 1] : '\0';
    BladeData[LastByte - Pair] = static_cast<UINT8>(HexDigitValue(High) * 16 + HexDigitValue(Low));
    if (High == 0 || Low == 0) {
      return;
    }
  }
}

void StoreSerialText(const CHAR8* Text, UINT8* BladeData) {
  BladeData[TalBladeField::SerialValid] = 1;
  UINT8* Serial = BladeData + TalBladeField::Serial;
  for (UINTN Unit = 0; Unit < SerialUnits; ++Unit) {
    WriteLe16(Serial + 2 * Unit, static_cast<UINT8>(Text[Unit]));
    if (Text[Unit] == 0) {
      return;
    }
  }
}

EFI_STATUS SetSmbiosSystemUuid(const UINT8* Uuid, UINT8 Length) {
  SMBIOS_EDIT_PROTOCOL* Smbios = nullptr;
  EFI_STATUS Status = Driver.BootServices->LocateProtocol(
      GuidPointer(SmbiosEditProtocolGuid), nullptr, reinterpret_cast<void**>(&Smbios));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  HandedOverBuffer<UINT8> Copy;
  UINT16 Size = 0;
  Status = Copy.Received(Smbios->GetStructure(SmbiosSystemInfoType, 1, &Copy.Data, &Size));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // A structure too short to hold the UUID field is not written past its end.
  if (Copy.Data == nullptr || Size < SmbiosUuidOffset + Length) {
    return EFI_ABORTED;
  }
  const UINT16 Handle = ReadLe16(Copy.Data + SmbiosHandleOffset);
  CopyBytes(Copy.Data + SmbiosUuidOffset, Uuid, Length);
  return Smbios->UpdateStructure(Handle, Copy.Data, Size);
}

EFI_STATUS SendUuidToBmc(IPMI_TRANSPORT_PROTOCOL* Ipmi, const UINT8* Uuid, UINT8 Length,
                         UINT8 Reverse) {
  // The request holds one UUID; a longer length would send bytes from beyond it.
  if (Length > UuidLength) {
    Length = UuidLength;
  }
  UINT8 Request[UuidLength];
  for (UINT8 I = 0; I < UuidLength; ++I) {
    Request[I] = Reverse == 1 ? Uuid[UuidLength - 1 - I] : Uuid[I];
  }
  UINT8 Response[1] = {0};
  UINT8 ResponseSize = sizeof(Response);
  return Ipmi->SendIpmiCommand(Ipmi, IpmiNetFnOem, 0, IpmiCmdOemSystemUuid, Request, Length,
                               Response, &ResponseSize);
}
