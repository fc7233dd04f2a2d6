// bladecfg-perf-boot: the platform pass in real firmware against the transport's floor. For each
// list size, one boot of OVMF under QEMU: the harness times the driver's StartImage (the entry,
// which runs the platform pass), then sends, itself and in the same boot, the very requests the
// pass made (taken from the same mailbox in the simulated blade: the same number, kinds and
// sizes) and times them. The ratio of the two is the driver's overhead over the bare transport.
// Numbers are reported, never judged.
//
//   bladecfg-perf-boot              # 12 and 32 commands, one boot each
//   bladecfg-perf-boot --boots 3 12 # three boots of 12 commands: the medians, and the spread
//
// Exit status 0 when every boot reported, 1 when one did not, 77 when there is no image build to
// boot (unless BLADECFG_REQUIRE_IMAGE is set, then 1).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "firmware/runner/fru_file.h"
#include "firmware/runner/qemu_boot.h"
#include "firmware/runner/report.h"
#include "firmware/runner/scenario_builder.h"
#include "sim/blade.h"
#include "sim/bmc_mailbox.h"
#include "tests/bench/bench_mailbox.h"

namespace {

constexpr char BladeGuid[] = "3C095E8C-7653-11E1-A8EB-080027FA6E7F";
constexpr char SystemSetupGuid[] = "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9";
constexpr char ServerSetupGuid[] = "01239999-FC0E-4B6E-9E79-D54D5DB6CD20";
constexpr unsigned CalibrationMicroseconds = 200000;
constexpr uint8_t PlatformFru = 1;
constexpr uint32_t Done = 0x0E00;

struct Measurement {
  std::string Problem; // empty when the boot reported everything
  size_t Requests = 0;
  double PassMicroseconds = 0;
  double BareMicroseconds = 0;
  double BootSeconds = 0;
};

// The requests the platform pass makes on this mailbox, as the simulated blade sees them.
std::vector<sim::IpmiRequest> PassRequests(const std::vector<uint8_t>& Device) {
  sim::Blade Blade;
  Blade.Bmc.AddFruDevice(PlatformFru, Device.size());
  Blade.Bmc.WriteFru(PlatformFru, 0, Device);
  Blade.Platform.SetPortValue(0x50C, 1); // adapters ready, as on QEMU's floating port
  Blade.LoadDriver();
  return Blade.Bmc.Trace();
}

std::string Scenario(const std::vector<sim::IpmiRequest>& Requests, UINT16 ResultArea,
                     int Commands) {
  fw::ScenarioBuilder S;
  S.Variable("TalBladeData", BladeGuid, 6, std::vector<uint8_t>(280, 0))
      .Variable("Setup", SystemSetupGuid, 7, std::vector<uint8_t>(731, 0))
      .Variable("Setup", ServerSetupGuid, 7, std::vector<uint8_t>(102, 0))
      .Readback(PlatformFru, ResultArea, static_cast<unsigned>(6 * Commands))
      .Load(fw::IpmiTransportImage)
      .Load(fw::PlatformInfoImage)
      .Clock("calibrate-from")
      .Stall(CalibrationMicroseconds)
      .Clock("calibrate-to")
      .Load(fw::DriverImage)
      .Clock("pass")
      .Snapshot("pass");
  for (const sim::IpmiRequest& R : Requests) {
    S.Ipmi(R.NetFn, R.Cmd, R.Data);
  }
  return S.Clock("bare").Text();
}

Measurement Measure(int Commands) {
  mailbox_format::MailboxImage Image;
  Image.Size = fw::FruAreaSize;
  Image.Lists[0] = mailbox_format::MailboxList{bench::PlatformCommands(Commands), true, {}};
  const std::vector<uint8_t> Device = mailbox_format::EncodeMailboxImage(Image);
  const UINT16 ResultArea = mailbox_format::PlaceMailbox(Image).ResultAreaOffset;
  const std::vector<sim::IpmiRequest> Requests = PassRequests(Device);

  fw::BootRequest Request;
  Request.Scenario = Scenario(Requests, ResultArea, Commands);
  Request.FruData = fw::FruFile({{PlatformFru, Image}});
  Request.FruAreaSize = fw::FruAreaSize;
  Request.TimeoutSeconds = 120;
  const fw::BootResult Boot = fw::BootInQemu(Request);
  const fw::Report Report = fw::ParseReport(Boot.Report);

  Measurement M;
  M.Requests = Requests.size();
  M.BootSeconds = Boot.Seconds;
  if (!Boot.SetupFailure.empty()) {
    M.Problem = "no boot: " + Boot.SetupFailure;
    return M;
  }
  if (!Report.Complete() || !Report.Errors.empty() || Report.Clocks.size() != 4) {
    M.Problem = "the boot did not report everything (QEMU exit status " +
                std::to_string(Boot.ExitStatus) + (Boot.TimedOut ? ", timed out" : "") + ")";
    return M;
  }
  // Every command done: the pass ran in firmware as it did in the simulated blade.
  const std::vector<uint8_t>& Records =
      Report.Snapshots.at("pass").Fru.at({PlatformFru, ResultArea}).Bytes;
  for (int I = 0; I < Commands; ++I) {
    const size_t At = 6 * static_cast<size_t>(I);
    const uint32_t Status = Records.size() < At + 6 ? 0 : Records[At + 2] | Records[At + 3] << 8;
    if (Status != Done) {
      M.Problem = "command " + std::to_string(I) + " was not done in firmware";
      return M;
    }
  }
  const auto& C = Report.Clocks;
  const double TicksPerMicrosecond =
      double(C.at("calibrate-to").Counter - C.at("calibrate-from").Counter) /
      CalibrationMicroseconds;
  M.PassMicroseconds = double(C.at("pass").LastStartTicks) / TicksPerMicrosecond;
  M.BareMicroseconds =
      double(C.at("bare").IpmiTicks - C.at("pass").IpmiTicks) / TicksPerMicrosecond;
  return M;
}

bool ImageRequired() {
  const char* Value = std::getenv("BLADECFG_REQUIRE_IMAGE");
  return Value != nullptr && *Value != '\0' && std::string(Value) != "0";
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

// Boots Commands Boots times; false when a boot did not report.
bool Report(int Commands, int Boots) {
  std::vector<double> Pass, Bare, Ratio, Seconds;
  size_t Requests = 0;
  for (int B = 0; B < Boots; ++B) {
    const Measurement M = Measure(Commands);
    if (!M.Problem.empty()) {
      std::printf("  %d commands: %s\n", Commands, M.Problem.c_str());
      return false;
    }
    Requests = M.Requests;
    Pass.push_back(M.PassMicroseconds / 1000);
    Bare.push_back(M.BareMicroseconds / 1000);
    Ratio.push_back(M.PassMicroseconds / M.BareMicroseconds);
    Seconds.push_back(M.BootSeconds);
  }
  std::printf("  %d commands, %zu IPMI requests: pass %.1f ms, bare requests %.1f ms, ratio %.1f "
              "(boot to report %.1f s)",
              Commands, Requests, Median(Pass), Median(Bare), Median(Ratio), Median(Seconds));
  if (Boots > 1) {
    std::printf("; medians of %d boots, ratio from %.1f to %.1f", Boots,
                *std::min_element(Ratio.begin(), Ratio.end()),
                *std::max_element(Ratio.begin(), Ratio.end()));
  }
  std::printf("\n");
  return true;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<int> Sizes;
  int Boots = 1;
  for (int I = 1; I < argc; ++I) {
    if (std::string(argv[I]) == "--boots" && I + 1 < argc) {
      Boots = std::max(1, std::atoi(argv[++I]));
    } else {
      Sizes.push_back(std::atoi(argv[I]));
    }
  }
  if (Sizes.empty()) {
    Sizes = {12, 32};
  }
  if (const std::string Missing = fw::MissingImage(); !Missing.empty()) {
    std::printf("platform pass in OVMF: not measured: %s\n", Missing.c_str());
    return ImageRequired() ? 1 : 77;
  }
  std::printf("platform pass in OVMF under QEMU (StartImage of the driver, whose entry runs it, "
              "variable services included) against the same requests sent bare by the harness in "
              "the same boot\n");
  int Status = 0;
  for (int Commands : Sizes) {
    Status = Report(Commands, Boots) ? Status : 1;
  }
  return Status;
}
