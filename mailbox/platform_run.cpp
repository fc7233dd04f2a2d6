// The platform command run.
#include "mailbox/platform_run.h"

#include "core/byte_format.h"
#include "core/driver_state.h"
#include "core/failure.h"
#include "core/pool.h"
#include "mailbox/fru_access.h"
#include "mailbox/mailbox.h"
#include "platform/platform_command.h"

namespace {

struct RunState {
  IPMI_TRANSPORT_PROTOCOL* Transport;
  FruDelay Delay;
  UINT8 FruId;
  UINT8* Text; // CommandTextCapacity bytes
  UINT8 Flags;
  BOOLEAN Failed;
};

EFI_STATUS ReadBe16At(RunState& R, UINT16 Offset, UINT16* Value) {
  return ReadFruBe16(R.Transport, R.Delay, R.FruId, Offset, Value);
}

// Reads the command record at Offset and carries it out, up to three times while it is not done:
// each execution reads the id and the text again. Next receives the following record's offset;
// Id is CommandEndId at the end of the list.
EFI_STATUS ExecuteRecord(RunState& R, UINT16 Offset, UINT16* Id, UINT32* ClpStatus, UINT16* Next) {
  for (UINT8 Execution = 1;; ++Execution) {
    EFI_STATUS Status = ReadBe16At(R, Offset, Id);
    if (EFI_ERROR(Status) || *Id == CommandEndId) {
      return Status;
    }
    // The text buffer holds nothing but this text and zeros behind it, never a longer earlier one.
    ZeroBytes(R.Text, CommandTextCapacity);
    UINT16 Length = 0;
    Status =
        ReadFruText(R.Transport, R.Delay, R.FruId, static_cast<UINT16>(Offset + CommandTextField),
                    &Length, R.Text, CommandTextCapacity);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    *Next = static_cast<UINT16>(Offset + CommandTextField + Length);
    Status =
        ExecutePlatformCommand(R.Transport, reinterpret_cast<CHAR8*>(R.Text), ClpStatus, &R.Flags);
    if (EFI_ERROR(Status) || *ClpStatus == ClpStatusDone) {
      return Status;
    }
    if (Execution == PlatformCommandExecutions) {
      R.Failed = TRUE;
      ReportClpFailure();
      return EFI_SUCCESS; // the third status is recorded and the run goes on
    }
  }
}

// Runs list 0 from its first record. Any failing step cuts the run short.
EFI_STATUS RunList(RunState& R, UINT16 HeaderOffset) {
  UINT16 ResultArea = 0;
  EFI_STATUS Status =
      ReadBe16At(R, static_cast<UINT16>(HeaderOffset + ResultAreaOffsetField), &ResultArea);
  if (EFI_ERROR(Status) || ResultArea == 0) {
    return Status;
  }
  UINT16 Record = 0;
  Status = ReadBe16At(R, static_cast<UINT16>(HeaderOffset + CommandListOffsetField(0)), &Record);
  if (EFI_ERROR(Status) || Record == 0) {
    return Status;
  }
  for (UINT8 Index = 0; Index < MailboxCommandsPerList; ++Index) {
    UINT16 Id = 0;
    UINT32 ClpStatus = 0;
    UINT16 Next = Record;
    Status = ExecuteRecord(R, Record, &Id, &ClpStatus, &Next);
    if (EFI_ERROR(Status) || Id == CommandEndId) {
      return Status;
    }
    // Adapter lines keep their slot for the adapter run: the index is used up all the same.
    if ((R.Flags & CommandFlagNoRecord) == 0) {
      Status = WriteResultRecord(R.Transport, R.Delay, R.FruId,
                                 ResultRecordOffset(ResultArea, 0, Index), Id, ClpStatus);
      if (EFI_ERROR(Status)) {
        return Status;
      }
    }
    Record = Next;
  }
  // More than 32 commands: the rest are not run, and the BMC is told so over record 0.
  UINT16 Id = 0;
  Status = ReadBe16At(R, Record, &Id);
  if (EFI_ERROR(Status) || Id == CommandEndId) {
    return Status;
  }
  return UpdateFruBytes(R.Transport, R.Delay, R.FruId, ResultArea, sizeof(OverflowMarker),
                        OverflowMarker);
}

EFI_STATUS RunLocked(RunState& R, UINT16 HeaderOffset) {
  EFI_STATUS Status = LockMailbox(R.Transport, R.FruId, HeaderOffset);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return RunList(R, HeaderOffset);
}

} // namespace

EFI_STATUS RunPlatformCommands(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId,
                               UINT16 HeaderOffset) {
  RunState R{Transport, Driver.BootServices->Stall, FruId, nullptr, 0, FALSE};
  EFI_STATUS Status;
  {
    PoolBuffer Text(CommandTextCapacity);
    if (EFI_ERROR(Text.Status())) {
      return Text.Status();
    }
    R.Text = Text.Data();
    Status = RunLocked(R, HeaderOffset);
  } // the text buffer goes back to the pool before any reset
  if (EFI_ERROR(Status)) {
    return EFI_ABORTED; // cut short: no reset, records already written stay
  }
  if ((R.Flags & CommandFlagReset) != 0) {
    Driver.RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  }
  return R.Failed ? EFI_ABORTED : EFI_SUCCESS;
}
