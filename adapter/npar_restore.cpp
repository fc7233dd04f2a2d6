#include "adapter/npar_restore.h"

#include "adapter/adapter_run.h"
#include "adapter/slot_table.h"
#include "core/byte_format.h"
#include "core/driver_state.h"
#include "core/failure.h"
#include "core/pool.h"
#include "core/variables.h"
#include "platform/text.h"

namespace {

// Sends the default-restore commands in order. Accepted is set when every one answered 0x0500; a
// failure stops the sending, and only a status word other than 0x0500 is reported.
void SendRestoreCommands(ADAPTER_CLP_PROTOCOL* Adapter, CHAR8* Text, CHAR8* Response,
                         BOOLEAN* Accepted) {
  for (const auto& Command : NparRestoreCommands) {
    ZeroBytes(Text, TextBufferSize);
    ZeroBytes(Response, AdapterResponseSize);
    CopyText(Command, Text, CopyWholeText, TRUE, TextBufferSize);
    UINT32 Word = 0;
    if (EFI_ERROR(Adapter->Execute(Adapter, Text, Response, &Word))) {
      return;
    }
    if (Word != NparRestoreAccepted) {
      ReportClpFailure();
      return;
    }
  }
  *Accepted = TRUE;
}

} // namespace

EFI_STATUS RestoreNparDefault(ADAPTER_CLP_PROTOCOL* Adapter, UINT8* BladeData, UINTN Bus, UINTN,
                              UINTN Function) {
  const UINT8 Row = FindAdapterSlot(Bus, Function);
  if (Row >= AdapterSlotCount) {
    return EFI_ABORTED;
  }
  const AdapterSlot& Slot = AdapterSlotTable[Row];
  UINT8* MaskField = BladeData + TalBladeField::NparRestoreMask;
  const UINT32 Mask = ReadLe32(MaskField);
  if ((Mask & Slot.PendingBit) == 0) {
    return EFI_SUCCESS; // nothing to do for this adapter
  }
  // The buffers are taken once there is something to send, and go back before anything is
  // written or reset.
  BOOLEAN Accepted = FALSE;
  {
    PoolBuffer Text(TextBufferSize);
    if (EFI_ERROR(Text.Status())) {
      return Text.Status();
    }
    PoolBuffer Response(AdapterResponseSize);
    if (EFI_ERROR(Response.Status())) {
      return Response.Status();
    }
    SendRestoreCommands(Adapter, reinterpret_cast<CHAR8*>(Text.Data()),
                        reinterpret_cast<CHAR8*>(Response.Data()), &Accepted);
  }
  if (!Accepted) {
    return EFI_SUCCESS; // the bit stays set for the next arrival
  }
  ClearPendingFruId(Slot.FruId);
  WriteLe32(MaskField, Mask & ~Slot.PendingBit);
  if ((Mask & ~Slot.PendingBit) == 0) {
    Driver.RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  }
  return WritePlatformVariable(TalBladeData, BladeData, TalBladeData.Size);
}
