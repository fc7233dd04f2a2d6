// bladecfg-boot: boots BladeCfgDxe.efi once in OVMF under QEMU, with a BMC program listening on a
// loopback port (ipmi_sim with its VM serial port), the way a blade boots: the platform variables
// start zero-filled, the stand-in drivers and the driver load, and the completion signal follows.
// It prints what the harness reported about the driver; the BMC keeps the mailbox's results.
//
//   bladecfg-boot --bmc-port 9002 [--variables vars.fd] [--timeout 120]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "firmware/runner/blade_variables.h"
#include "firmware/runner/qemu_boot.h"
#include "firmware/runner/report.h"
#include "firmware/runner/scenario_builder.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: bladecfg-boot --bmc-port PORT [--variables FILE] [--timeout S]\n");
  return 2;
}

std::string Hex16(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

} // namespace

int main(int argc, char** argv) {
  fw::BootRequest Request;
  Request.TimeoutSeconds = 120;
  for (int I = 1; I + 1 < argc; I += 2) {
    const std::string Option = argv[I];
    if (Option == "--bmc-port") {
      Request.ExternalBmcPort = static_cast<uint16_t>(std::atoi(argv[I + 1]));
    } else if (Option == "--variables") {
      Request.VariableStore = argv[I + 1];
    } else if (Option == "--timeout") {
      Request.TimeoutSeconds = static_cast<unsigned>(std::atoi(argv[I + 1]));
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || Request.ExternalBmcPort == 0 || Request.TimeoutSeconds == 0) {
    return Usage();
  }

  fw::ScenarioBuilder S;
  // Non-volatile Setup variables are created only in a store that has none yet.
  S.Variable("TalBladeData", fw::TalBladeDataGuid, fw::VolatileAttributes,
             std::vector<uint8_t>(fw::TalBladeDataSize, 0))
      .Watch("CLPFailureFlag", fw::TalBladeDataGuid, 1);
  if (Request.VariableStore.empty() || !std::filesystem::exists(Request.VariableStore)) {
    S.Variable("Setup", fw::SystemSetupGuid, fw::NonVolatileAttributes,
               std::vector<uint8_t>(fw::SystemSetupSize, 0))
        .Variable("Setup", fw::ServerSetupGuid, fw::NonVolatileAttributes,
                  std::vector<uint8_t>(fw::ServerSetupSize, 0));
  }
  S.Load(fw::IpmiTransportImage)
      .Load(fw::PlatformInfoImage)
      .Load(fw::SmbiosEditImage)
      .Load(fw::DriverImage)
      .Snapshot("entry")
      .Completion()
      .Snapshot("completion");
  Request.Scenario = S.Text();

  const fw::BootResult B = fw::BootInQemu(Request);
  if (!B.SetupFailure.empty()) {
    std::fprintf(stderr, "bladecfg-boot: %s\n", B.SetupFailure.c_str());
    return 1;
  }
  const fw::Report R = fw::ParseReport(B.Report);
  std::printf("boot: %.2f s%s\n", B.Seconds, B.TimedOut ? ", cut off at the time limit" : "");
  for (const fw::LoadLine& L : R.Loads) {
    std::printf("loaded %s: start status %s%s\n", L.Path.c_str(), Hex16(L.StartStatus).c_str(),
                L.Resident ? ", resident" : "");
  }
  if (R.Reset) {
    std::printf("the driver reset the machine (type %u) after its commands\n", R.Reset->Type);
  }
  const char* Last = R.Reset ? "reset" : "completion";
  if (auto It = R.Snapshots.find(Last); It != R.Snapshots.end()) {
    std::printf("status codes reported: %zu\n", It->second.CodesSeen);
  }
  for (const std::string& E : R.Errors) {
    std::printf("harness error: %s\n", E.c_str());
  }
  if (!R.Complete()) {
    std::fprintf(stderr, "bladecfg-boot: incomplete report:\n%s\nconsole:\n%s\n", B.Report.c_str(),
                 B.Console.c_str());
    return 1;
  }
  return 0;
}
