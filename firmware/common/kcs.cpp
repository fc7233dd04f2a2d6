#include "firmware/common/kcs.h"

namespace {

constexpr UINT8 KcsAttempts = 2;
// An absent interface floats the bus: every status bit reads 1.
constexpr UINT8 KcsNoInterface = 0xFF;

UINT8 Status(const KcsPorts& P) {
  return P.Read(P.Context, P.StatusPort);
}

KcsState State(UINT8 Status) {
  return static_cast<KcsState>(Status >> KcsStateShift);
}

// Waits until the BMC has taken the last byte or control code (IBF clear), at most Polls polls.
// Last receives the status register that ended the wait.
EFI_STATUS WaitInputEmptyFor(const KcsPorts& P, const KcsLimits& L, UINT32 Polls, UINT8* Last) {
  for (UINT32 Poll = 0; Poll < Polls; ++Poll) {
    *Last = Status(P);
    if (*Last == KcsNoInterface) {
      return EFI_DEVICE_ERROR;
    }
    if ((*Last & KcsStatusIbf) == 0) {
      return EFI_SUCCESS;
    }
    P.Delay(P.Context, L.PollDelayMicroseconds);
  }
  return EFI_TIMEOUT;
}

EFI_STATUS WaitInputEmpty(const KcsPorts& P, const KcsLimits& L, UINT8* Last) {
  return WaitInputEmptyFor(P, L, L.PollsPerWait, Last);
}

EFI_STATUS WaitOutputFull(const KcsPorts& P, const KcsLimits& L) {
  for (UINT32 Poll = 0; Poll < L.PollsPerWait; ++Poll) {
    const UINT8 S = Status(P);
    if (S == KcsNoInterface) {
      return EFI_DEVICE_ERROR;
    }
    if ((S & KcsStatusObf) != 0) {
      return EFI_SUCCESS;
    }
    P.Delay(P.Context, L.PollDelayMicroseconds);
  }
  return EFI_TIMEOUT;
}

// The BMC raises OBF after every step of the write phase; the byte means nothing and must be taken
// off so that OBF tells the truth in the read phase.
void ClearOutput(const KcsPorts& P) {
  if ((Status(P) & KcsStatusObf) != 0) {
    (void)P.Read(P.Context, P.DataPort);
  }
}

// Waits for IBF to clear and checks that the interface is in the Expected state.
EFI_STATUS Settle(const KcsPorts& P, const KcsLimits& L, KcsState Expected) {
  UINT8 S = 0;
  EFI_STATUS Result = WaitInputEmpty(P, L, &S);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  return State(S) == Expected ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

EFI_STATUS WritePhase(const KcsPorts& P, const KcsLimits& L, const UINT8* Request, UINT16 Size) {
  UINT8 S = 0;
  EFI_STATUS Result = WaitInputEmpty(P, L, &S);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  ClearOutput(P);
  P.Write(P.Context, P.StatusPort, KcsWriteStart);
  if (EFI_ERROR(Result = Settle(P, L, KcsWrite))) {
    return Result;
  }
  ClearOutput(P);
  for (UINT16 I = 0; I + 1 < Size; ++I) {
    P.Write(P.Context, P.DataPort, Request[I]);
    if (EFI_ERROR(Result = Settle(P, L, KcsWrite))) {
      return Result;
    }
    ClearOutput(P);
  }
  P.Write(P.Context, P.StatusPort, KcsWriteEnd);
  if (EFI_ERROR(Result = Settle(P, L, KcsWrite))) {
    return Result;
  }
  ClearOutput(P);
  P.Write(P.Context, P.DataPort, Request[Size - 1]);
  return EFI_SUCCESS;
}

// Takes response bytes until the BMC goes idle. Bytes past Capacity are read and dropped; more than
// KcsMaxResponse bytes means the BMC is out of step. Until the BMC has carried out the request,
// IBF stays set and the state stays WRITE: the first wait is the long one.
EFI_STATUS ReadPhase(const KcsPorts& P, const KcsLimits& L, UINT8* Response, UINT16 Capacity,
                     UINT16* Received) {
  *Received = 0;
  for (;;) {
    UINT8 S = 0;
    EFI_STATUS Result =
        WaitInputEmptyFor(P, L, *Received == 0 ? L.PollsPerAnswer : L.PollsPerWait, &S);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    if (State(S) == KcsIdle) {
      // The closing dummy byte; some BMCs never raise OBF for it, so a missing one is no failure.
      if (!EFI_ERROR(WaitOutputFull(P, L))) {
        (void)P.Read(P.Context, P.DataPort);
      }
      return *Received > Capacity ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS;
    }
    if (State(S) != KcsRead || *Received >= KcsMaxResponse) {
      return EFI_DEVICE_ERROR;
    }
    if (EFI_ERROR(Result = WaitOutputFull(P, L))) {
      return Result;
    }
    const UINT8 Byte = P.Read(P.Context, P.DataPort);
    if (*Received < Capacity) {
      Response[*Received] = Byte;
    }
    ++*Received;
    P.Write(P.Context, P.DataPort, KcsReadByte);
  }
}

} // namespace

EFI_STATUS KcsAbort(const KcsPorts& P, const KcsLimits& L, UINT8* InterfaceStatus) {
  *InterfaceStatus = 0;
  UINT8 S = 0;
  EFI_STATUS Result = WaitInputEmpty(P, L, &S);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  ClearOutput(P);
  P.Write(P.Context, P.StatusPort, KcsGetStatusAbort);
  if (EFI_ERROR(Result = WaitInputEmpty(P, L, &S))) {
    return Result;
  }
  ClearOutput(P);
  P.Write(P.Context, P.DataPort, 0);
  if (EFI_ERROR(Result = Settle(P, L, KcsRead))) {
    return Result;
  }
  if (EFI_ERROR(Result = WaitOutputFull(P, L))) {
    return Result;
  }
  *InterfaceStatus = P.Read(P.Context, P.DataPort);
  P.Write(P.Context, P.DataPort, KcsReadByte);
  if (EFI_ERROR(Result = Settle(P, L, KcsIdle))) {
    return Result;
  }
  if (!EFI_ERROR(WaitOutputFull(P, L))) {
    (void)P.Read(P.Context, P.DataPort);
  }
  return EFI_SUCCESS;
}

EFI_STATUS KcsTransact(const KcsPorts& Ports, const KcsLimits& Limits, const UINT8* Request,
                       UINT16 RequestSize, UINT8* Response, UINT16 Capacity, UINT16* ResponseSize) {
  if (Request == nullptr || RequestSize < 2 || ResponseSize == nullptr ||
      (Response == nullptr && Capacity != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  *ResponseSize = 0;
  EFI_STATUS Result = EFI_DEVICE_ERROR;
  for (UINT8 Attempt = 0; Attempt < KcsAttempts; ++Attempt) {
    Result = WritePhase(Ports, Limits, Request, RequestSize);
    if (!EFI_ERROR(Result)) {
      Result = ReadPhase(Ports, Limits, Response, Capacity, ResponseSize);
    }
    if (Result != EFI_DEVICE_ERROR) {
      break;
    }
    // Out of step: put the interface back to idle and try once more. An absent interface or a
    // failing abort ends the transaction.
    if (Status(Ports) == KcsNoInterface) {
      break;
    }
    UINT8 InterfaceStatus = 0;
    if (EFI_ERROR(KcsAbort(Ports, Limits, &InterfaceStatus))) {
      break;
    }
  }
  if (Result == EFI_TIMEOUT) {
    UINT8 InterfaceStatus = 0;
    (void)KcsAbort(Ports, Limits, &InterfaceStatus);
  }
  return Result;
}
