// A boot-services pool buffer owned by the operation that needs it and released on every way out.
#pragma once

#include "uefi/types.h"

class PoolBuffer {
public:
  // Allocates Size zero-filled bytes of EfiBootServicesData; Status() tells whether it worked.
  explicit PoolBuffer(UINTN Size);
  ~PoolBuffer();
  PoolBuffer(const PoolBuffer&) = delete;
  PoolBuffer& operator=(const PoolBuffer&) = delete;

  EFI_STATUS Status() const { return Status_; }
  UINT8* Data() const { return Data_; }
  UINTN Size() const { return Size_; }

private:
  UINT8* Data_ = nullptr;
  UINTN Size_ = 0;
  EFI_STATUS Status_ = EFI_SUCCESS;
};

// Returns a buffer the firmware allocated from the pool.
void ReturnToPool(void* Buffer);

// A buffer the firmware allocated and handed over (LocateHandleBuffer, GetStructure), returned to
// the pool on every way out. The handing-over call writes Data; its status goes through Received.
template <typename T> class HandedOverBuffer {
public:
  HandedOverBuffer() = default;
  ~HandedOverBuffer() {
    if (Data != nullptr) {
      ReturnToPool(Data);
    }
  }
  HandedOverBuffer(const HandedOverBuffer&) = delete;
  HandedOverBuffer& operator=(const HandedOverBuffer&) = delete;

  // A call that failed handed nothing over, whatever it left in Data. Returns Status.
  EFI_STATUS Received(EFI_STATUS Status) {
    if (EFI_ERROR(Status)) {
      Data = nullptr;
    }
    return Status;
  }

  T* Data = nullptr;
};

void ZeroBytes(void* Buffer, UINTN Size);
void CopyBytes(void* Destination, const void* Source, UINTN Size);
