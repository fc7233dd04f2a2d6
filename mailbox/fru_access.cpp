#include "mailbox/fru_access.h"

#include "core/byte_format.h"
#include "core/failure.h"
#include "core/ipmi.h"
#include "core/pool.h"

namespace {

UINT8 SmallerCount(UINTN Remaining) {
  return static_cast<UINT8>(Remaining < FruChunkMax ? Remaining : FruChunkMax);
}

// One Read or Write FRU Data request, retried while the BMC answers "FRU device busy". Delivered
// receives the size of the answer as the transport reports it. A failure carries a completion code
// only when the transport delivered byte 0; that byte is also cleared before every attempt, so
// that a transport which leaves it alone is never taken for a stale busy answer.
EFI_STATUS SendFruRequest(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 Command,
                          UINT8* Request, UINT8 RequestSize, UINT8* Response,
                          UINT8 ResponseCapacity, UINT8* Delivered) {
  for (UINT8 Attempt = 1;; ++Attempt) {
    Response[0] = 0;
    UINT8 ResponseSize = ResponseCapacity;
    EFI_STATUS Status = Transport->SendIpmiCommand(Transport, IpmiNetFnStorage, 0, Command, Request,
                                                   RequestSize, Response, &ResponseSize);
    *Delivered = ResponseSize;
    if (!EFI_ERROR(Status)) {
      return Status;
    }
    const bool HasCompletion =
        Status == EFI_DEVICE_ERROR && ResponseSize >= 1 && ResponseSize <= ResponseCapacity;
    if (HasCompletion && Response[0] == IpmiCompletionFruBusy) {
      Delay(FruBusyDelayMicroseconds);
      if (Attempt < FruBusyAttempts) {
        continue;
      }
      ReportClpFailure();
      return EFI_ABORTED;
    }
    // "Data not present" is an answer the callers expect (for example no such FRU device).
    if (HasCompletion && Response[0] == IpmiCompletionNotPresent) {
      return EFI_DEVICE_ERROR;
    }
    ReportClpFailure();
    return Status;
  }
}

// Both FRU requests start with the device id and the offset, lowest byte first; a read's count or a
// write's data follows.
constexpr UINT8 FruRequestHead = 3;

void FillRequestHead(UINT8* Request, UINT8 FruId, UINT16 Offset) {
  Request[0] = FruId;
  WriteLe16(Request + 1, Offset);
}

} // namespace

EFI_STATUS ReadFruChunk(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                        UINT16 Offset, UINT8 Count, UINT8* Response) {
  // The response (count + data) must fit the 8-bit response size, and no request carries more
  // than a chunk.
  if (Count > FruChunkMax) {
    return EFI_ABORTED;
  }
  UINT8 Request[FruRequestHead + 1];
  FillRequestHead(Request, FruId, Offset);
  Request[FruRequestHead] = Count;
  const UINT8 Expected = static_cast<UINT8>(Count + 1);
  UINT8 Delivered = 0;
  EFI_STATUS Status = SendFruRequest(Transport, Delay, IpmiCmdReadFruData, Request, sizeof(Request),
                                     Response, Expected, &Delivered);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // The one check of every answer's size: the count byte and the bytes the transport delivered
  // must both be the count asked for. Anything else is a short count, and none of it is used.
  if (Delivered != Expected || Response[0] != Count) {
    ReportClpFailure();
    return EFI_ABORTED;
  }
  return EFI_SUCCESS;
}

EFI_STATUS WriteFruChunk(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                         UINT16 Offset, UINT8 Count, const UINT8* Data) {
  if (Count > FruChunkMax) {
    return EFI_ABORTED;
  }
  UINT8 Request[FruRequestHead + FruChunkMax];
  FillRequestHead(Request, FruId, Offset);
  CopyBytes(Request + FruRequestHead, Data, Count);
  // Only the status of a write counts: the bytes of its answer are not looked at.
  UINT8 Response[1];
  UINT8 Delivered = 0;
  return SendFruRequest(Transport, Delay, IpmiCmdWriteFruData, Request,
                        static_cast<UINT8>(FruRequestHead + Count), Response, sizeof(Response),
                        &Delivered);
}

EFI_STATUS ReadFruBytes(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                        UINT16 Offset, UINT8 Count, UINT8* Destination) {
  UINT8 Response[FruChunkMax + 1];
  for (UINTN Position = 0; Position < Count;) {
    UINT8 Chunk = SmallerCount(Count - Position);
    EFI_STATUS Status = ReadFruChunk(Transport, Delay, FruId,
                                     static_cast<UINT16>(Offset + Position), Chunk, Response);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    CopyBytes(Destination + Position, Response + 1, Chunk);
    Position += Chunk;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ReadFruBe16(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                       UINT16 Offset, UINT16* Value) {
  UINT8 Bytes[2] = {0, 0};
  EFI_STATUS Status = ReadFruBytes(Transport, Delay, FruId, Offset, sizeof(Bytes), Bytes);
  *Value = ReadBe16(Bytes);
  return Status;
}

EFI_STATUS UpdateFruBytes(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                          UINT16 Offset, UINT8 Count, const UINT8* Source) {
  UINT8 Response[FruChunkMax + 1];
  for (UINTN Position = 0; Position < Count;) {
    UINT8 Chunk = SmallerCount(Count - Position);
    UINT16 ChunkOffset = static_cast<UINT16>(Offset + Position);
    EFI_STATUS Status = ReadFruChunk(Transport, Delay, FruId, ChunkOffset, Chunk, Response);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    for (UINT8 I = 0; I < Chunk; ++I) {
      if (Response[1 + I] != Source[Position + I]) {
        Status = WriteFruChunk(Transport, Delay, FruId, ChunkOffset, Chunk, Source + Position);
        if (EFI_ERROR(Status)) {
          return Status;
        }
        break;
      }
    }
    Position += Chunk;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ReadFruText(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                       UINT16 Offset, UINT16* Length, UINT8* Destination, UINT16 Capacity) {
  UINT8 Response[FruChunkMax + 1];
  UINT16 Characters = 0;
  for (UINTN Position = 0; Position < Capacity;) {
    UINT8 Chunk = SmallerCount(Capacity - Position);
    EFI_STATUS Status = ReadFruChunk(Transport, Delay, FruId,
                                     static_cast<UINT16>(Offset + Position), Chunk, Response);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    for (UINT8 I = 0; I < Chunk; ++I) {
      UINT8 Byte = Response[1 + I];
      Destination[Position + I] = Byte;
      if (Byte == 0) {
        *Length = static_cast<UINT16>(Characters + 1);
        return EFI_SUCCESS;
      }
      ++Characters;
    }
    Position += Chunk;
  }
  // No NUL within the destination: the text is refused rather than cut or overrun. The buffer is
  // still left terminated, for any caller that looks at it anyway.
  if (Capacity > 0) {
    Destination[Capacity - 1] = 0;
  }
  ReportClpFailure();
  return EFI_ABORTED;
}
