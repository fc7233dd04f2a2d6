// bladecfg-sim: runs the driver in a simulated blade and prints what it did.
//
// With no arguments it uses the built-in default blade: a platform mailbox in FRU device 1 holding
// a few platform commands and one adapter command, adapters not yet ready at load, and failure
// reports switched on. The boot is followed by the completion signal, as later firmware would give
// it.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "core/failure.h"
#include "core/variables.h"
#include "sim/blade.h"
#include "sim/mailbox_image.h"
#include "sim/problems.h"
#include "tools/report.h"

namespace {

constexpr UINT8 PlatformFru = 1;
constexpr size_t FruSize = 8192;

void PrintProblem(const std::string& Message) {
  std::cerr << "simulated blade: " << Message << "\n";
}

void Usage(std::ostream& Out) {
  Out << "usage: bladecfg-sim [--help]\n"
         "Loads the driver into the built-in default blade and prints the IPMI traffic, the\n"
         "variables that changed, the status codes and the resets.\n";
}

sim::MailboxContents DefaultMailbox() {
  sim::MailboxContents Contents;
  Contents.Lists = {{
      {0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
      {0x0002, "SET B1 OEMTAL_NUMA=DISABLE"},
      {0x0003, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
      {0x0004, "SET BOOTCFGSETTING1 OEMTAL_IPL1_DEFAULT"},
  }};
  return Contents;
}

sim::MailboxLayout SetUpDefaultBlade(sim::Blade& Blade) {
  Blade.Bmc.AddFruDevice(PlatformFru, FruSize);
  sim::MailboxLayout Layout = sim::WriteMailbox(Blade.Bmc, PlatformFru, DefaultMailbox());
  Blade.Platform.SetPortValue(AdapterReadyPort, 0); // adapters not ready at load

  std::vector<uint8_t> BladeData =
      Blade.Firmware.Variables.Value(TalBladeData.Name, TalBladeData.Guid).value();
  BladeData[TalBladeField::ClpFailurePause] = 1;
  Blade.Firmware.Variables.Create(TalBladeData.Name, TalBladeData.Guid, TalBladeData.Attributes,
                                  BladeData);
  return Layout;
}

void PrintBlade(const sim::MailboxLayout& Layout) {
  const sim::MailboxContents Contents = DefaultMailbox();
  std::printf("Blade: built-in default\n");
  std::printf("  FRU device %d (%zu bytes): mailbox header at 0x%04X, result area at 0x%04X\n",
              PlatformFru, FruSize, Layout.HeaderOffset, Layout.ResultAreaOffset);
  std::printf("  command list 0 at 0x%04X:\n", Layout.ListOffsets[0]);
  for (const sim::MailboxCommand& C : Contents.Lists[0]) {
    std::printf("    %04X  %s\n", C.Id, C.Text.c_str());
  }
  std::printf("  adapter-ready input low, failure reports on\n\n");
}

void PrintOutcome(const char* What, const sim::BootOutcome& Outcome) {
  if (Outcome.Reset) {
    std::printf("%s: ended by a system reset\n", What);
  } else if (Outcome.Hang) {
    std::printf("%s: hung (%s)\n", What, Outcome.HangReason.c_str());
  } else {
    std::printf("%s: returned %s\n", What, tools::StatusName(Outcome.Status).c_str());
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool Help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    Usage(Help ? std::cout : std::cerr);
    return Help ? 0 : 2;
  }
  sim::SetProblemHandler(PrintProblem);

  sim::Blade Blade;
  const sim::MailboxLayout Layout = SetUpDefaultBlade(Blade);
  PrintBlade(Layout);

  const tools::VariableSnapshot Before = tools::TakeSnapshot(Blade.Firmware.Variables);
  sim::BootOutcome Outcome = Blade.LoadDriver();
  PrintOutcome("DriverEntry", Outcome);
  if (!Blade.ResetRequested()) {
    PrintOutcome("Completion signal", Blade.InstallCompletionSignal());
  }
  const tools::VariableSnapshot After = tools::TakeSnapshot(Blade.Firmware.Variables);
  std::printf("\n%s", tools::BootReport(Blade, Before, After).c_str());

  std::printf("\nResult records of list 0:\n");
  for (UINT8 I = 0; I < DefaultMailbox().Lists[0].size(); ++I) {
    sim::ResultRecordValue R =
        sim::ReadResultRecord(Blade.Bmc, PlatformFru, Layout.ResultAreaOffset, 0, I);
    if (R.Id == 0xFFFF && R.Status == 0xFFFFFFFF) {
      std::printf("  %u: not written\n", I);
    } else {
      std::printf("  %u: id %04X status %08X\n", I, R.Id, R.Status);
    }
  }
  return Outcome.Returned || Outcome.Reset ? 0 : 1;
}
