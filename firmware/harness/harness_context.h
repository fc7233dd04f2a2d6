// What the parts of the test harness share: the firmware's tables, the report on the debug
// console, and small helpers for what several parts report.
#pragma once

#include "firmware/common/pi_protocols.h"
#include "firmware/harness/report_writer.h"

struct HarnessContext {
  EFI_HANDLE Image;
  EFI_SYSTEM_TABLE* St;
  EFI_BOOT_SERVICES* Bs;
  EFI_RUNTIME_SERVICES* Rt;
};

extern HarnessContext Harness;
extern ReportWriter Report;

constexpr UINTN DevicePathMax = 4096;

// An "error <what> <status>" line; the host test fails on any.
void ReportError(const char* What, EFI_STATUS Status);

// A "snapshot <tag>" line and everything watched: FRU bytes, variables, status codes, the input
// levels, the adapter stand-in's Execute calls and the StartupAllAPs calls.
void Snapshot(const char* Tag);

// The image's loaded-image protocol; null when the image is gone.
EFI_LOADED_IMAGE_PROTOCOL* LoadedImage(EFI_HANDLE Image);
UINTN NodeLength(const EFI_DEVICE_PATH_PROTOCOL* Node);

// bb:dd.f in hexadecimal.
struct LocationText {
  char Text[8];
};
LocationText LocationWord(UINTN Bus, UINTN Device, UINTN Function);
