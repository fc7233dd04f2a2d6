// How the test harness works the adapter-driver stand-in (firmware/standins/adapter_clp_dxe.cpp):
// a control protocol on the stand-in's image handle, beside its driver binding. The harness names
// the PCI functions the stand-in manages and how their commands are answered, connects the
// stand-in to them when the scenario says, and reads back every Execute call.
#pragma once

#include "core/protocols.h"

constexpr EFI_GUID AdapterStandInControlGuid = {
    0x8B2E61D4, 0x3C7A, 0x4F19, {0x9D, 0x05, 0x71, 0xE4, 0x2A, 0xB8, 0x6C, 0x13}};

// A PCI function on segment 0.
struct AdapterLocation {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
};

inline bool SameLocation(const AdapterLocation& A, const AdapterLocation& B) {
  return A.Bus == B.Bus && A.Device == B.Device && A.Function == B.Function;
}

// One answer of Execute: what it returns and, when that is EFI_SUCCESS, the status word it sets.
struct AdapterAnswer {
  EFI_STATUS Returned;
  UINT32 StatusWord;
};

constexpr UINTN AdapterAnswerMax = 16;
constexpr UINTN AdapterCommandBufferSize = 256;
constexpr UINTN AdapterResponseBufferSize = 4096;

// One Execute call as the stand-in saw it.
struct AdapterExecuteRecord {
  // HandleProtocol(PCI I/O) and GetLocation of the controller handle in the record handed over;
  // the location is valid when this is EFI_SUCCESS.
  EFI_STATUS LocationStatus;
  UINT16 Segment;
  AdapterLocation Location;
  BOOLEAN OwnRecord;         // This was the record the stand-in installed, not a copy of it
  BOOLEAN ResponseZeroed;    // the whole response buffer held zeros
  BOOLEAN CommandZeroFilled; // the command buffer held zeros from the NUL to its end
  EFI_STATUS Returned;
  UINT32 StatusWord; // set through Status when Returned is EFI_SUCCESS
  UINT16 TextLength; // before the NUL; the buffer's size when it holds none
  CHAR8 Text[AdapterCommandBufferSize];
};

struct ADAPTER_STANDIN_CONTROL;
// From now on the stand-in manages the function at Location (its binding supports it) and answers
// commands for it with Answers in order, the last one for every later command. Replaces an earlier
// plan for the same function.
typedef EFI_STATUS(EFIAPI* ADAPTER_STANDIN_PLAN)(ADAPTER_STANDIN_CONTROL* This,
                                                 const AdapterLocation* Location,
                                                 const AdapterAnswer* Answers, UINTN Count);
// The handle on which Start installed AdapterClpProtocol for that function; null before.
typedef EFI_HANDLE(EFIAPI* ADAPTER_STANDIN_ADAPTER_HANDLE)(ADAPTER_STANDIN_CONTROL* This,
                                                           const AdapterLocation* Location);
// Execute calls so far (more than are kept when the log ran full), and one kept record (null past
// them).
typedef UINTN(EFIAPI* ADAPTER_STANDIN_EXECUTE_COUNT)(ADAPTER_STANDIN_CONTROL* This);
typedef const AdapterExecuteRecord*(EFIAPI* ADAPTER_STANDIN_EXECUTE_RECORD)(
    ADAPTER_STANDIN_CONTROL* This, UINTN Index);

struct ADAPTER_STANDIN_CONTROL {
  ADAPTER_STANDIN_PLAN Plan;
  ADAPTER_STANDIN_ADAPTER_HANDLE AdapterHandle;
  ADAPTER_STANDIN_EXECUTE_COUNT ExecuteCount;
  ADAPTER_STANDIN_EXECUTE_RECORD ExecuteRecord;
};
