// Stand-in for the platform-information driver: installs PlatformInfoProtocol and answers items 29
// and 30 from the variable the test harness sets (firmware/common/standin_config.h), read afresh
// at every query so that answers may change during a boot.
#include "core/protocols.h"
#include "firmware/common/standin_config.h"
#include "uefi/tables.h"

namespace {

EFI_RUNTIME_SERVICES* RuntimeServices = nullptr;

EFI_STATUS EFIAPI Query(UINTN Index, UINT64* Value) {
  if (Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  PlatformInfoAnswers Answers = {};
  UINTN Size = sizeof(Answers);
  EFI_STATUS Status =
      RuntimeServices->GetVariable(const_cast<CHAR16*>(PlatformInfoAnswersName),
                                   GuidPointer(StandInConfigGuid), nullptr, &Size, &Answers);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Size != sizeof(Answers)) {
    return EFI_DEVICE_ERROR;
  }
  return PlatformInfoAnswer(Answers, Index, Value);
}

PLATFORM_INFO_PROTOCOL Protocol = {Query};

} // namespace

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE, EFI_SYSTEM_TABLE* SystemTable) {
  RuntimeServices = SystemTable->RuntimeServices;
  EFI_HANDLE Handle = nullptr;
  return SystemTable->BootServices->InstallProtocolInterface(
      &Handle, GuidPointer(PlatformInfoProtocolGuid), EFI_NATIVE_INTERFACE, &Protocol);
}
