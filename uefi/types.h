// Base UEFI types, status values and the calling convention of every firmware function pointer.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Every firmware function pointer uses the Microsoft x64 convention. On the PE/COFF target that is
// the compiler's default; on the Linux host (the simulated blade) it has to be asked for.
#if defined(_WIN64)
#define EFIAPI
#else
#define EFIAPI __attribute__((ms_abi))
#endif

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
constexpr BOOLEAN TRUE = 1;
constexpr BOOLEAN FALSE = 0;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

typedef UINTN EFI_STATUS;
typedef void* EFI_HANDLE;
typedef void* EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;

static_assert(sizeof(UINTN) == 8 && sizeof(void*) == 8, "x86-64 only");
static_assert(sizeof(CHAR16) == 2, "CHAR16 is UTF-16");

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16 && alignof(EFI_GUID) == 4, "EFI_GUID layout");

inline bool GuidEquals(const EFI_GUID& A, const EFI_GUID& B) {
  const UINT8* P = reinterpret_cast<const UINT8*>(&A);
  const UINT8* Q = reinterpret_cast<const UINT8*>(&B);
  for (UINTN I = 0; I < sizeof(EFI_GUID); ++I) {
    if (P[I] != Q[I]) {
      return false;
    }
  }
  return true;
}

// Firmware services take non-const GUID pointers but never write through them; the driver's GUIDs
// are constants.
inline EFI_GUID* GuidPointer(const EFI_GUID& Guid) {
  return const_cast<EFI_GUID*>(&Guid);
}

constexpr UINTN kEfiErrorBit = 0x8000000000000000ull;
constexpr EFI_STATUS EfiError(UINTN Code) {
  return kEfiErrorBit | Code;
}

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_LOAD_ERROR = EfiError(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER = EfiError(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = EfiError(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EfiError(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EfiError(5);
constexpr EFI_STATUS EFI_NOT_READY = EfiError(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR = EfiError(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED = EfiError(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EfiError(9);
constexpr EFI_STATUS EFI_NOT_FOUND = EfiError(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED = EfiError(15);
constexpr EFI_STATUS EFI_NO_RESPONSE = EfiError(16);
constexpr EFI_STATUS EFI_TIMEOUT = EfiError(18);
constexpr EFI_STATUS EFI_NOT_STARTED = EfiError(19);
constexpr EFI_STATUS EFI_ALREADY_STARTED = EfiError(20);
constexpr EFI_STATUS EFI_ABORTED = EfiError(21);
constexpr EFI_STATUS EFI_PROTOCOL_ERROR = EfiError(24);

// A status with the high bit set is a failure; warnings are small positive values.
constexpr bool EFI_ERROR(EFI_STATUS Status) {
  return (Status & kEfiErrorBit) != 0;
}

// Task priority levels.
constexpr EFI_TPL TPL_APPLICATION = 4;
constexpr EFI_TPL TPL_CALLBACK = 8;
constexpr EFI_TPL TPL_NOTIFY = 16;
constexpr EFI_TPL TPL_HIGH_LEVEL = 31;
