#include "core/pool.h"

#include "core/driver_state.h"

PoolBuffer::PoolBuffer(UINTN Size) {
  void* Buffer = nullptr;
  Status_ = Driver.BootServices->AllocatePool(EfiBootServicesData, Size, &Buffer);
  if (EFI_ERROR(Status_)) {
    return;
  }
  // A pool that hands back no buffer, whatever its status says, has none to give.
  if (Buffer == nullptr) {
    Status_ = EFI_OUT_OF_RESOURCES;
    return;
  }
  Data_ = static_cast<UINT8*>(Buffer);
  Size_ = Size;
  // Zero-filled, so a variable shorter than its documented size never exposes stale pool bytes.
  ZeroBytes(Data_, Size_);
}

PoolBuffer::~PoolBuffer() {
  if (Data_ != nullptr) {
    ReturnToPool(Data_);
  }
}

void ZeroBytes(void* Buffer, UINTN Size) {
  UINT8* P = static_cast<UINT8*>(Buffer);
  for (UINTN I = 0; I < Size; ++I) {
    P[I] = 0;
  }
}

void CopyBytes(void* Destination, const void* Source, UINTN Size) {
  UINT8* D = static_cast<UINT8*>(Destination);
  const UINT8* S = static_cast<const UINT8*>(Source);
  for (UINTN I = 0; I < Size; ++I) {
    D[I] = S[I];
  }
}

void ReturnToPool(void* Buffer) {
  Driver.BootServices->FreePool(Buffer);
}
