#include "mailbox/mailbox.h"

#include "core/driver_state.h"

namespace {

bool HasSignature(const MailboxHeader& Header) {
  for (UINTN I = 0; I < sizeof(MailboxSignature); ++I) {
    if (Header.Signature[I] != MailboxSignature[I]) {
      return false;
    }
  }
  return true;
}

UINT16 At(UINT16 HeaderOffset, UINT16 Delta) {
  return static_cast<UINT16>(HeaderOffset + Delta);
}

EFI_STATUS ReadLockByte(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 Offset,
                        UINT8* Value) {
  return ReadFruBytes(Transport, Driver.BootServices->Stall, FruId, Offset, 1, Value);
}

EFI_STATUS WriteLockByte(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 Offset,
                         UINT8 Value) {
  return UpdateFruBytes(Transport, Driver.BootServices->Stall, FruId, Offset, 1, &Value);
}

// One look at the BMC's side: the host may enter when the BMC neither wants the mailbox nor holds
// the turn. The BMC's flag is read first.
EFI_STATUS PollLock(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 HeaderOffset,
                    bool* Taken) {
  UINT8 Value = 0;
  EFI_STATUS Status = ReadLockByte(Transport, FruId, At(HeaderOffset, BmcLockFlagOffset), &Value);
  if (EFI_ERROR(Status) || Value == 0) {
    *Taken = !EFI_ERROR(Status);
    return Status;
  }
  Status = ReadLockByte(Transport, FruId, At(HeaderOffset, LockTurnOffset), &Value);
  *Taken = !EFI_ERROR(Status) && Value == 0;
  return Status;
}

} // namespace

bool MailboxChecksumValid(const MailboxHeader& Header) {
  const UINT8* Bytes = reinterpret_cast<const UINT8*>(&Header);
  UINT16 Sum = 0;
  for (UINTN I = 0; I < sizeof(MailboxHeader); I += 2) {
    Sum = static_cast<UINT16>(Sum + ReadBe16(Bytes + I));
  }
  return Sum == 0;
}

EFI_STATUS FindMailbox(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, MailboxHeader* Header,
                       UINT16* HeaderOffset) {
  UINT16 Offset = MailboxFirstOffset;
  for (UINT8 Try = 0; Try < MailboxCandidates; ++Try, Offset = At(Offset, MailboxStride)) {
    EFI_STATUS Status = ReadFruBytes(Transport, Driver.BootServices->Stall, FruId, Offset,
                                     sizeof(MailboxHeader), reinterpret_cast<UINT8*>(Header));
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (!HasSignature(*Header)) {
      continue;
    }
    // The first signature decides: a damaged header is not skipped in favour of a later one.
    if (!MailboxChecksumValid(*Header)) {
      return EFI_ABORTED;
    }
    *HeaderOffset = Offset;
    return EFI_SUCCESS;
  }
  return EFI_ABORTED;
}

EFI_STATUS LockMailbox(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 HeaderOffset) {
  EFI_STATUS Status = WriteLockByte(Transport, FruId, At(HeaderOffset, HostLockFlagOffset), 1);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // Yield the turn to the BMC: if both ask at once, the BMC goes first.
  Status = WriteLockByte(Transport, FruId, At(HeaderOffset, LockTurnOffset), 1);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  for (UINT8 Poll = 0; Poll < LockPolls; ++Poll) {
    bool Taken = false;
    Status = PollLock(Transport, FruId, HeaderOffset, &Taken);
    if (EFI_ERROR(Status) || Taken) {
      return Status;
    }
    Driver.BootServices->Stall(LockPollMicroseconds);
  }
  // Give up without leaving the BMC locked out.
  Status = WriteLockByte(Transport, FruId, At(HeaderOffset, HostLockFlagOffset), 0);
  return EFI_ERROR(Status) ? Status : EFI_ABORTED;
}

EFI_STATUS UnlockMailbox(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 HeaderOffset) {
  return WriteLockByte(Transport, FruId, At(HeaderOffset, HostLockFlagOffset), 0);
}

EFI_STATUS WriteResultRecord(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                             UINT16 RecordOffset, UINT16 Id, UINT32 Status) {
  ResultRecord Record;
  PutResultRecord(Record, Id, Status);
  return UpdateFruBytes(Transport, Delay, FruId, RecordOffset, sizeof(Record),
                        reinterpret_cast<const UINT8*>(&Record));
}
