#include "firmware/harness/harness_context.h"

#include "firmware/common/port_io_x86.h"

namespace {

constexpr UINT16 DebugConsolePort = 0x402;

void DebugConsoleSink(void*, char C) {
  PortWrite8(DebugConsolePort, static_cast<UINT8>(C));
}

} // namespace

HarnessContext Harness = {};
ReportWriter Report(DebugConsoleSink, nullptr);

void ReportError(const char* What, EFI_STATUS Status) {
  Report.Word("error").Word(What).Status(Status).End();
}

EFI_LOADED_IMAGE_PROTOCOL* LoadedImage(EFI_HANDLE Image) {
  EFI_LOADED_IMAGE_PROTOCOL* Loaded = nullptr;
  EFI_STATUS Status = Harness.Bs->HandleProtocol(Image, GuidPointer(EFI_LOADED_IMAGE_PROTOCOL_GUID),
                                                 reinterpret_cast<void**>(&Loaded));
  return EFI_ERROR(Status) ? nullptr : Loaded;
}

UINTN NodeLength(const EFI_DEVICE_PATH_PROTOCOL* Node) {
  return Node->Length[0] | (Node->Length[1] << 8);
}

LocationText LocationWord(UINTN Bus, UINTN Device, UINTN Function) {
  constexpr char Hex[] = "0123456789abcdef";
  return LocationText{{Hex[(Bus >> 4) & 0xF], Hex[Bus & 0xF], ':', Hex[(Device >> 4) & 0xF],
                       Hex[Device & 0xF], '.', Hex[Function & 0x7], '\0'}};
}
