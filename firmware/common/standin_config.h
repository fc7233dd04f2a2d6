// How the test harness configures the stand-in drivers: through volatile UEFI variables under a
// GUID of their own, which the harness creates before it loads them.
#pragma once

#include "uefi/types.h"

constexpr EFI_GUID StandInConfigGuid = {
    0x6F3C2A1E, 0x91B4, 0x4C0D, {0xA6, 0x58, 0x2E, 0x7B, 0x10, 0xC4, 0x93, 0x5D}};

// The platform-information answers: item 29 (device settings refused) and item 30 (mailboxes in
// FRU device 2).
constexpr CHAR16 PlatformInfoAnswersName[] = u"StandInPlatformInfo";
struct PlatformInfoAnswers {
  UINT64 Item29;
  UINT64 Item30;
};
static_assert(sizeof(PlatformInfoAnswers) == 16, "PlatformInfoAnswers");

constexpr UINTN PlatformInfoItemRefused = 29;
constexpr UINTN PlatformInfoItemFru2 = 30;

// The answer to one query; other items are not known on this platform.
inline EFI_STATUS PlatformInfoAnswer(const PlatformInfoAnswers& Answers, UINTN Index,
                                     UINT64* Value) {
  if (Index == PlatformInfoItemRefused) {
    *Value = Answers.Item29;
    return EFI_SUCCESS;
  }
  if (Index == PlatformInfoItemFru2) {
    *Value = Answers.Item30;
    return EFI_SUCCESS;
  }
  return EFI_UNSUPPORTED;
}
