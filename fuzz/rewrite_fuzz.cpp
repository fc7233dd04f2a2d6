// RewriteAdapterCommand on its own: any text (any bytes, any length up to its 256-byte buffer,
// terminated or not), any row, vendor/device word and flags, with the variables, the BMC and the
// SMBIOS update failing as the input says. Checked against what the design promises of one call.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "adapter/command_rewrite.h"
#include "core/entry.h"
#include "fuzz/oracles.h"
#include "fuzz/rewrite_input.h"
#include "sim/blade.h"
#include "sim/driver_image.h"
#include "sim/platform_variables.h"

namespace {

// Facts of the design, written out here so that a wrong driver constant fails.
constexpr size_t SlotRows = 24;
constexpr uint8_t NotSent = 0x01, Reset = 0x02, AfterWait = 0x40;
constexpr UINT32 BadKeyword = 0xFD02;
constexpr UINT32 StatusUnset = 0xA5A5A5A5;
constexpr size_t WidestShortForm = 249; // "SET N" texts longer than this do not fit once widened

// The status each failure of the input gives.
constexpr EFI_STATUS SystemReadStatus = EFI_NOT_READY;
constexpr EFI_STATUS BladeReadStatus = EFI_DEVICE_ERROR;
constexpr EFI_STATUS WriteStatus = EFI_WRITE_PROTECTED;
constexpr EFI_STATUS MessageStatus = EFI_TIMEOUT;
constexpr EFI_STATUS PoolStatus = EFI_OUT_OF_RESOURCES;

bool StartsWith(const uint8_t* Text, const char* Prefix) {
  for (size_t I = 0; Prefix[I] != 0; ++I) {
    if (std::toupper(Text[I]) != Prefix[I]) {
      return false;
    }
  }
  return true;
}

size_t Length(const uint8_t* Text) {
  return std::find(Text, Text + fuzz::CommandBufferSize, 0) - Text;
}

bool IsPlatformSetting(const uint8_t* Text) {
  return StartsWith(Text, "SET BOOTCFGSETTING1 ") || StartsWith(Text, "SET B1 ");
}

bool IsShortForm(const uint8_t* Text) {
  return StartsWith(Text, "SET N") && Text[5] >= '1' && Text[5] <= '8' && Text[6] == ' ';
}

// The statuses a failing platform setting may pass on, for the failures the input injects.
bool InjectedStatus(EFI_STATUS Status, uint8_t Failures) {
  using namespace fuzz;
  return (Status == SystemReadStatus && (Failures & FailSystemRead) != 0) ||
         (Status == BladeReadStatus && (Failures & FailBladeRead) != 0) ||
         (Status == WriteStatus && (Failures & (FailSystemWrite | FailBladeWrite)) != 0) ||
         (Status == MessageStatus && (Failures & FailUuidMessage) != 0) ||
         (Status == EFI_NOT_FOUND && (Failures & NoSmbiosEdit) != 0) ||
         (Status == PoolStatus && (Failures & FailPool) != 0);
}

void SetUpFailures(const fuzz::RewriteInput& Input, sim::Blade& Blade) {
  using namespace fuzz;
  sim::VariableStore& Store = Blade.Firmware.Variables;
  const sim::VariableSpec& System = sim::vars::SystemSetup;
  const sim::VariableSpec& Data = sim::vars::TalBladeData;
  if ((Input.Failures & FailSystemRead) != 0) {
    Store.FailGet(System.Name, System.Guid, SystemReadStatus);
  }
  if ((Input.Failures & FailBladeRead) != 0) {
    Store.FailGet(Data.Name, Data.Guid, BladeReadStatus);
  }
  if ((Input.Failures & FailSystemWrite) != 0) {
    Store.FailSet(System.Name, System.Guid, WriteStatus);
  }
  if ((Input.Failures & FailBladeWrite) != 0) {
    Store.FailSet(Data.Name, Data.Guid, WriteStatus);
  }
  if ((Input.Failures & FailUuidMessage) != 0) {
    Blade.Bmc.InjectStatus(MessageStatus, -1, {});
  }
  if ((Input.Failures & FailPool) != 0) {
    Blade.Firmware.Pool.FailAllocation(1, PoolStatus);
  }
  Blade.Platform.SetCpuTopology(1, Input.Cores != 0 ? Input.Cores : 8);
}

struct Call {
  EFI_STATUS Result = EFI_SUCCESS;
  bool Reset = false;
  UINT32 Status = StatusUnset;
  uint8_t Flags = 0;
};

void CheckCall(const fuzz::RewriteInput& Input, const uint8_t* Before, const uint8_t* After,
               const Call& C, size_t VariableWrites) {
  using fuzz::Expect;
  const bool Terminated = Length(Before) < fuzz::CommandBufferSize;
  const bool Platform = IsPlatformSetting(Before);
  const bool Applied = Platform && (Input.Flags & AfterWait) != 0;
  const bool Unchanged = std::memcmp(Before, After, fuzz::CommandBufferSize) == 0;

  Expect(C.Reset == false || (Platform && (C.Flags & Reset) != 0),
         "a reset other than after a platform setting with the reset flag set");
  Expect((C.Flags & ~(NotSent | Reset)) == (Input.Flags & ~(NotSent | Reset)),
         "flags other than not-sent and reset changed");
  Expect((Input.Flags & Reset) == 0 || (C.Flags & Reset) != 0, "the reset flag was cleared");
  Expect(C.Status == StatusUnset || (Applied && C.Status == BadKeyword),
         "the status word written other than for an unknown platform keyword");
  Expect(Applied || VariableWrites == 0, "a variable written for a command that sets nothing");
  if (C.Reset) {
    return;
  }
  if (C.Result != EFI_SUCCESS) {
    Expect(Unchanged, "a refused text was changed");
  }
  if (C.Result == EFI_SUCCESS || Terminated) {
    Expect(Length(After) < fuzz::CommandBufferSize, "the text left without a NUL in its buffer");
  }
  if (Input.Row >= SlotRows) {
    Expect(C.Result == EFI_INVALID_PARAMETER, "a row past the table not refused");
    return;
  }
  if (C.Result == EFI_ABORTED) {
    const size_t N = Length(Before);
    Expect(IsShortForm(Before) && (N < 5 || N > WidestShortForm),
           "EFI_ABORTED for a text that is no short port form too long to widen");
    return;
  }
  if (C.Result == EFI_INVALID_PARAMETER) {
    Expect(!Terminated, "EFI_INVALID_PARAMETER for a terminated text in the table's rows");
    return;
  }
  if (C.Result != EFI_SUCCESS) {
    Expect(Applied && InjectedStatus(C.Result, Input.Failures),
           "a failure status no injected failure accounts for");
    return;
  }
  Expect(!Platform || (C.Flags & NotSent) != 0 || (Applied && C.Status == BadKeyword),
         "a platform setting to be sent although its keyword is known");
  const UINT16 Vendor = static_cast<UINT16>(Input.VendorDevice());
  if (!Platform && Vendor != 0x8086 && Vendor != 0x14E4) {
    // Any other vendor gets the text unchanged, the short port form widened.
    std::string Want(reinterpret_cast<const char*>(Before), Length(Before));
    if (IsShortForm(Before)) {
      Want = "Set Netport" + Want.substr(5);
    }
    Expect(std::string(reinterpret_cast<const char*>(After), Length(After)) == Want,
           "a text for another vendor changed other than by widening");
    Expect((C.Flags & NotSent) == 0, "a text for another vendor held back");
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FailOnSimulatorProblems();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const fuzz::RewriteInput Input = fuzz::DecodeRewrite(Data, Size);
  sim::BladeOptions Options;
  Options.InstallSmbiosEdit = (Input.Failures & fuzz::NoSmbiosEdit) == 0;
  sim::Blade Blade(Options);
  sim::LoadFreshDriverImage();
  InitServiceTables(Blade.Firmware.ImageHandle(), Blade.Firmware.SystemTable());
  SetUpFailures(Input, Blade);

  const std::array<uint8_t, fuzz::CommandBufferSize> Before = fuzz::CommandBuffer(Input);
  // The buffer on its own in the heap, so that the sanitizer sees a step past either end.
  const std::unique_ptr<uint8_t[]> Text(new uint8_t[fuzz::CommandBufferSize]);
  std::copy(Before.begin(), Before.end(), Text.get());
  Call C;
  C.Flags = Input.Flags;
  const size_t WritesBefore = Blade.Firmware.Variables.Writes().size();
  try {
    C.Result = RewriteAdapterCommand(Blade.Bmc.Transport(), reinterpret_cast<CHAR8*>(Text.get()),
                                     Input.Row, Input.VendorDevice(), &C.Status, &C.Flags);
  } catch (const sim::SimulatedReset&) {
    C.Reset = true;
  }
  fuzz::Expect(Blade.Firmware.Pool.LiveCount() == 0, "pool buffers left behind");
  CheckCall(Input, Before.data(), Text.get(), C,
            Blade.Firmware.Variables.Writes().size() - WritesBefore);
  return 0;
}
