#include "firmware/runner/qemu_boot.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "firmware/runner/host_os.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

// Set by the build (firmware/CMakeLists.txt); empty strings mean "find it at run time".
constexpr const char* ConfiguredImageDir = BLADECFG_FIRMWARE_IMAGE_DIR;
constexpr const char* ConfiguredOvmfCode = BLADECFG_OVMF_CODE;
constexpr const char* ConfiguredOvmfVars = BLADECFG_OVMF_VARS;
constexpr const char* QemuProgram = "qemu-system-x86_64";

// Beyond `timeout`'s own limit and kill delay: only a runner that cannot reap its child waits this.
constexpr int ReapGraceSeconds = 15;
constexpr size_t ConsoleTail = 4000;

// The code and variable-store images of the installed OVMF package, 4 MiB flavour preferred.
bool FindOvmf(std::string* Code, std::string* Vars, std::string* Why) {
  if (*ConfiguredOvmfCode != '\0' || *ConfiguredOvmfVars != '\0') {
    *Code = ConfiguredOvmfCode;
    *Vars = ConfiguredOvmfVars;
    if (!fs::exists(*Code) || !fs::exists(*Vars)) {
      *Why = "the OVMF images configured (BLADECFG_OVMF_CODE, BLADECFG_OVMF_VARS) do not exist: " +
             *Code + ", " + *Vars;
      return false;
    }
    return true;
  }
  FILE* List = popen("dpkg -L ovmf 2>/dev/null", "r");
  std::string Files;
  if (List != nullptr) {
    char Buffer[4096];
    for (size_t N; (N = fread(Buffer, 1, sizeof(Buffer), List)) > 0;) {
      Files.append(Buffer, N);
    }
    pclose(List);
  }
  for (const char* Flavour : {"_4M", ""}) {
    std::string FoundCode, FoundVars;
    std::istringstream Lines(Files);
    for (std::string Line; std::getline(Lines, Line);) {
      const std::string Name = fs::path(Line).filename().string();
      if (Name == std::string("OVMF_CODE") + Flavour + ".fd") {
        FoundCode = Line;
      } else if (Name == std::string("OVMF_VARS") + Flavour + ".fd") {
        FoundVars = Line;
      }
    }
    if (!FoundCode.empty() && !FoundVars.empty()) {
      *Code = FoundCode;
      *Vars = FoundVars;
      return true;
    }
  }
  *Why = "OVMF is not installed (dpkg -L ovmf lists no OVMF_CODE/OVMF_VARS pair): install the "
         "ovmf package (scripts/install-deps.sh) or configure BLADECFG_OVMF_CODE and "
         "BLADECFG_OVMF_VARS";
  return false;
}

// The images of the image build and where they go on the FAT drive: the harness as the
// removable-media boot file, the stand-ins and the driver where scenarios load them.
std::vector<std::pair<fs::path, fs::path>> DriveFiles(const fs::path& Drive) {
  const fs::path Images = ConfiguredImageDir;
  return {
      {Images / "firmware" / "FirmwareHarness.efi", Drive / "EFI" / "BOOT" / "BOOTX64.EFI"},
      {Images / "firmware" / "IpmiTransportDxe.efi", Drive / "BLADE" / "IpmiTransportDxe.efi"},
      {Images / "firmware" / "PlatformInfoDxe.efi", Drive / "BLADE" / "PlatformInfoDxe.efi"},
      {Images / "firmware" / "SmbiosEditDxe.efi", Drive / "BLADE" / "SmbiosEditDxe.efi"},
      {Images / "firmware" / "AdapterClpDxe.efi", Drive / "BLADE" / "AdapterClpDxe.efi"},
      {Images / "BladeCfgDxe.efi", Drive / "BLADE" / "BladeCfgDxe.efi"},
  };
}

// The images, then the scenario.
std::string PrepareDrive(const fs::path& Drive, const BootRequest& Request) {
  if (std::string Missing = MissingImage(); !Missing.empty()) {
    return Missing;
  }
  std::error_code Error;
  for (const auto& [From, To] : DriveFiles(Drive)) {
    fs::create_directories(To.parent_path(), Error);
    if (Error || !fs::copy_file(From, To, fs::copy_options::overwrite_existing, Error)) {
      return "cannot copy " + From.string() + ": " + Error.message();
    }
  }
  if (!WriteFile(Drive / "SCENARIO.TXT", Request.Scenario)) {
    return "cannot write the scenario file";
  }
  return "";
}

// The BMC behind the KCS interface: QEMU's own simulator with the FRU file, or a BMC program on
// the loopback address. A link that finds nobody listening tries again every second.
std::vector<std::string> BmcArguments(const fs::path& Dir, const BootRequest& Request) {
  if (Request.ExternalBmcPort != 0) {
    return {"-chardev",
            "socket,id=ipmi0,host=127.0.0.1,port=" + std::to_string(Request.ExternalBmcPort) +
                ",reconnect=1",
            "-device",
            "ipmi-bmc-extern,id=bmc0,chardev=ipmi0",
            "-device",
            "isa-ipmi-kcs,bmc=bmc0"};
  }
  return {"-device",
          "ipmi-bmc-sim,id=bmc0,fruareasize=" + std::to_string(Request.FruAreaSize) +
              ",frudatafile=" + (Dir / "fru.bin").string(),
          "-device", "isa-ipmi-kcs,bmc=bmc0"};
}

// Arguments, or a failure text (empty on success).
std::string QemuArguments(const fs::path& Dir, const std::string& Code, const fs::path& Vars,
                          const BootRequest& Request, std::vector<std::string>* Arguments) {
  std::vector<std::string> A = {"-machine",
                                "q35",
                                "-nodefaults",
                                "-nographic",
                                "-serial",
                                "stdio",
                                "-no-reboot",
                                "-m",
                                "256",
                                "-smp",
                                "4,sockets=1,cores=4,threads=1",
                                "-drive",
                                "if=pflash,format=raw,unit=0,readonly=on,file=" + Code,
                                "-drive",
                                "if=pflash,format=raw,unit=1,file=" + Vars.string(),
                                "-drive",
                                "file=fat:rw:" + (Dir / "drive").string() +
                                    ",format=raw,if=none,id=esp",
                                "-device",
                                "virtio-blk-pci,drive=esp,bus=pcie.0,addr=01.0,bootindex=0",
                                "-chardev",
                                "file,id=report,path=" + (Dir / "report.txt").string(),
                                "-device",
                                "isa-debugcon,iobase=0x402,chardev=report"};
  for (std::string& Arg : BmcArguments(Dir, Request)) {
    A.push_back(std::move(Arg));
  }
  if (Request.Layout == MachineLayout::AdapterSlots) {
    std::vector<std::string> Slots;
    if (std::string Why = SlotMachineArguments(Request.SlotFunctions, &Slots); !Why.empty()) {
      return Why;
    }
    A.insert(A.end(), Slots.begin(), Slots.end());
  } else if (!Request.SlotFunctions.empty()) {
    return "PCI functions for the adapter slots need the adapter-slot machine";
  }
  for (std::string& Arg : InputLevelArguments(Request.Inputs)) {
    A.push_back(std::move(Arg));
  }
  *Arguments = std::move(A);
  return "";
}

} // namespace

std::string MissingImage() {
  for (const auto& Files : DriveFiles("")) {
    if (!fs::exists(Files.first)) {
      return Files.first.string() +
             " is missing: build the images first (cmake --workflow --preset image), or "
             "configure BLADECFG_FIRMWARE_IMAGE_DIR";
    }
  }
  return "";
}

BootResult BootInQemu(const BootRequest& Request) {
  BootResult Result;
  const std::string Qemu = FindOnPath(QemuProgram);
  if (Qemu.empty()) {
    Result.SetupFailure = std::string(QemuProgram) +
                          " is not on PATH: install the qemu-system-x86 package "
                          "(scripts/install-deps.sh)";
    return Result;
  }
  if (FindOnPath("timeout").empty()) {
    Result.SetupFailure = "timeout (coreutils) is not on PATH";
    return Result;
  }
  std::string Code, Vars;
  if (!FindOvmf(&Code, &Vars, &Result.SetupFailure)) {
    return Result;
  }
  if (Request.ExternalBmcPort == 0 && (Request.FruAreaSize == 0 || Request.FruData.empty() ||
                                       Request.FruData.size() % Request.FruAreaSize != 0)) {
    Result.SetupFailure = "the FRU data must be a whole number of FRU areas";
    return Result;
  }
  RunDirectory Dir;
  if (Dir.Path().empty()) {
    Result.SetupFailure = "cannot create a run directory";
    return Result;
  }
  std::error_code Error;
  if (std::string Why = PrepareDrive(Dir.Path() / "drive", Request); !Why.empty()) {
    Result.SetupFailure = Why;
    return Result;
  }
  // Variables persist in the store: a boot starts from the package's pristine copy, unless it
  // continues a store that an earlier boot left.
  const fs::path Store =
      Request.VariableStore.empty() ? Dir.Path() / "vars.fd" : fs::path(Request.VariableStore);
  if ((!fs::exists(Store) && !fs::copy_file(Vars, Store, Error)) ||
      (Request.ExternalBmcPort == 0 &&
       !WriteFile(Dir.Path() / "fru.bin",
                  std::string(Request.FruData.begin(), Request.FruData.end())))) {
    Result.SetupFailure = "cannot prepare the variable store or the FRU file";
    return Result;
  }

  std::vector<std::string> Machine;
  if (std::string Why = QemuArguments(Dir.Path(), Code, Store, Request, &Machine); !Why.empty()) {
    Result.SetupFailure = Why;
    return Result;
  }
  std::vector<std::string> Argv = {"timeout", "--kill-after=5",
                                   std::to_string(Request.TimeoutSeconds), Qemu};
  Argv.insert(Argv.end(), Machine.begin(), Machine.end());
  const auto Start = std::chrono::steady_clock::now();
  bool KilledByRunner = false;
  Result.ExitStatus =
      RunBounded(Argv, Dir.Path() / "console.log",
                 static_cast<int>(Request.TimeoutSeconds) + ReapGraceSeconds, &KilledByRunner);
  Result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  // `timeout` answers 124 when its limit struck, 137 when it had to kill.
  Result.TimedOut = KilledByRunner || Result.ExitStatus == 124 || Result.ExitStatus == 137;
  Result.Report = ReadFile(Dir.Path() / "report.txt");
  const std::string Console = ReadFile(Dir.Path() / "console.log");
  Result.Console =
      Console.size() > ConsoleTail ? Console.substr(Console.size() - ConsoleTail) : Console;
  return Result;
}

} // namespace fw
