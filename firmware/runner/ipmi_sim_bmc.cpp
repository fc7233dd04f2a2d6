#include "firmware/runner/ipmi_sim_bmc.h"

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "firmware/runner/host_os.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr const char* IpmiSimProgram = "ipmi_sim";
constexpr const char* IpmitoolProgram = "ipmitool";
constexpr const char* BmcAddress = "0x20";
constexpr int StartAttempts = 5;  // another program may take a port between choice and bind
constexpr int ListenSeconds = 10; // ipmi_sim binds its ports within milliseconds
constexpr int StopGraceSeconds = 5;
constexpr int TimeoutKillSeconds = 5;

// A port that is free on the loopback address right now: the kernel's choice for port 0.
uint16_t FreePort(int Type) {
  const int S = socket(AF_INET, Type, 0);
  if (S < 0) {
    return 0;
  }
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Size = sizeof(A);
  uint16_t Port = 0;
  if (bind(S, reinterpret_cast<sockaddr*>(&A), sizeof(A)) == 0 &&
      getsockname(S, reinterpret_cast<sockaddr*>(&A), &Size) == 0) {
    Port = ntohs(A.sin_port);
  }
  close(S);
  return Port;
}

std::string Quoted(const fs::path& Path) {
  return "\"" + Path.string() + "\"";
}

// lan.conf: the LAN channel, the serial port QEMU's link connects to (OpenIPMI's VM codec) and one
// administrator.
std::string LanConfiguration(uint16_t LanPort, uint16_t VmPort, const std::string& Password,
                             const std::vector<std::string>& Extra) {
  std::ostringstream C;
  C << "name \"blade\"\n"
    << "set_working_mc " << BmcAddress << "\n"
    << "startlan 1\n"
    << "  addr 127.0.0.1 " << LanPort << "\n"
    << "  priv_limit admin\n"
    << "  guid a0b1c2d3e4f5061728394a5b6c7d8e9f\n"
    << "endlan\n"
    << "serial kcs 127.0.0.1 " << VmPort << " codec VM\n"
    << "user 2 true \"admin\" \"" << Password << "\" admin 10 none md2 md5 straight\n";
  for (const std::string& Line : Extra) {
    C << Line << "\n";
  }
  return C.str();
}

} // namespace

std::string LoadAnswersModule(IpmiSimSettings& Settings, const std::string& Options) {
  constexpr const char* Module = BLADECFG_IPMI_SIM_ANSWERS; // set by the build; empty: not built
  if (*Module == '\0') {
    return "ipmi_sim's answers module was not built: OpenIPMI's headers are missing (install "
           "libopenipmi-dev, scripts/install-deps.sh)";
  }
  Settings.Configuration.push_back("loadlib \"" + std::string(Module) + "\" \"" + Options + "\"");
  return "";
}

bool LoopbackPortBound(bool Tcp, uint16_t Port) {
  constexpr const char* Listening = "0A"; // TCP_LISTEN in /proc/net/tcp
  std::ifstream Table(Tcp ? "/proc/net/tcp" : "/proc/net/udp");
  std::string Line;
  std::getline(Table, Line); // the column names
  char Wanted[16];
  std::snprintf(Wanted, sizeof(Wanted), ":%04X", Port);
  while (std::getline(Table, Line)) {
    std::istringstream Words(Line);
    std::string Slot, Local, Remote, State;
    Words >> Slot >> Local >> Remote >> State;
    const bool OnPort = Local.size() > 5 && Local.compare(Local.size() - 5, 5, Wanted) == 0;
    const std::string Address = Local.substr(0, Local.find(':'));
    const bool Loopback = Address == "0100007F" || Address == "00000000";
    if (OnPort && Loopback && (!Tcp || State == Listening)) {
      return true;
    }
  }
  return false;
}

IpmiSimBmc::IpmiSimBmc(const IpmiSimSettings& Settings)
    : Dir_(std::make_unique<RunDirectory>("bladecfg-bmc")) {
  const std::string IpmiSim = FindOnPath(IpmiSimProgram);
  Ipmitool_ = FindOnPath(IpmitoolProgram);
  if (IpmiSim.empty() || Ipmitool_.empty()) {
    Failure_ = std::string(IpmiSim.empty() ? IpmiSimProgram : IpmitoolProgram) +
               " is not on PATH: install the " + (IpmiSim.empty() ? "openipmi" : "ipmitool") +
               " package (scripts/install-deps.sh)";
    return;
  }
  if (FindOnPath("timeout").empty()) {
    Failure_ = "timeout (coreutils) is not on PATH";
    return;
  }
  if (Dir_->Path().empty()) {
    Failure_ = "cannot create a state directory for ipmi_sim";
    return;
  }
  Password_ = "blade" + std::to_string(getpid());
  for (const auto& [Id, Bytes] : Settings.FruDevices) {
    if (Id > 254 || Bytes.empty() || Bytes.size() > 65536 ||
        !WriteFile(FruPath(Id), std::string(Bytes.begin(), Bytes.end()))) {
      Failure_ = "FRU device " + std::to_string(Id) +
                 " cannot be set up (ids 0 to 254, 1 to "
                 "65536 bytes)";
      return;
    }
  }
  for (int Attempt = 0; Attempt < StartAttempts; ++Attempt) {
    std::string Why;
    if (StartOnce(Settings, &Why)) {
      Failure_.clear();
      return;
    }
    Failure_ = Why;
  }
}

IpmiSimBmc::~IpmiSimBmc() {
  Stop();
}

bool IpmiSimBmc::StartOnce(const IpmiSimSettings& Settings, std::string* Why) {
  VmPort_ = FreePort(SOCK_STREAM);
  LanPort_ = FreePort(SOCK_DGRAM);
  if (VmPort_ == 0 || LanPort_ == 0) {
    *Why = "no free port on the loopback address";
    return false;
  }
  const fs::path Dir = Dir_->Path();
  std::ostringstream Commands;
  Commands << "mc_setbmc " << BmcAddress << "\n"
           << "mc_add " << BmcAddress
           << " 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02 persist_sdr\n";
  for (const auto& [Id, Bytes] : Settings.FruDevices) {
    Commands << "mc_add_fru_data " << BmcAddress << " " << Id << " " << Bytes.size() << " file 0 "
             << Quoted(FruPath(Id)) << "\n";
  }
  for (const std::string& Line : Settings.Commands) {
    Commands << Line << "\n";
  }
  Commands << "mc_enable " << BmcAddress << "\n";
  fs::create_directories(Dir / "state");
  if (!WriteFile(Dir / "lan.conf",
                 LanConfiguration(LanPort_, VmPort_, Password_, Settings.Configuration)) ||
      !WriteFile(Dir / "commands", Commands.str())) {
    *Why = "cannot write ipmi_sim's configuration";
    return false;
  }
  // `-n`: no console on standard input, which is /dev/null here.
  Pid_ = StartChild({"timeout", "--kill-after=" + std::to_string(TimeoutKillSeconds),
                     std::to_string(Settings.LifetimeSeconds), FindOnPath(IpmiSimProgram), "-c",
                     (Dir / "lan.conf").string(), "-f", (Dir / "commands").string(), "-s",
                     (Dir / "state").string(), "-n"},
                    Dir / "ipmi_sim.log");
  if (Pid_ < 0) {
    *Why = "cannot start ipmi_sim";
    return false;
  }
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ListenSeconds);
  while (std::chrono::steady_clock::now() < Deadline) {
    if (ChildExitStatus(Pid_) >= 0) {
      Pid_ = -1;
      *Why = "ipmi_sim ended at its start: " + Log();
      return false;
    }
    if (LoopbackPortBound(true, VmPort_) && LoopbackPortBound(false, LanPort_)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  *Why = "ipmi_sim did not open its ports within " + std::to_string(ListenSeconds) + " s: " + Log();
  return false;
}

fs::path IpmiSimBmc::FruPath(unsigned Id) const {
  return Dir_->Path() / ("fru" + std::to_string(Id) + ".bin");
}

std::vector<uint8_t> IpmiSimBmc::FruBytes(unsigned Id) const {
  const std::string Bytes = ReadFile(FruPath(Id));
  return {Bytes.begin(), Bytes.end()};
}

fs::path IpmiSimBmc::WorkPath(const std::string& Name) const {
  return Dir_->Path() / Name;
}

std::vector<std::string> IpmiSimBmc::IpmitoolCommand() const {
  // Cipher suite 3 (the RMCP+ suite every BMC has): without it ipmitool first asks for the
  // channel's cipher suites, which ipmi_sim does not know, and waits ten seconds for the answer.
  return {Ipmitool_.empty() ? IpmitoolProgram : Ipmitool_,
          "-I",
          "lanplus",
          "-C",
          "3",
          "-H",
          "127.0.0.1",
          "-p",
          std::to_string(LanPort_),
          "-U",
          "admin",
          "-P",
          Password_};
}

CommandOutput IpmiSimBmc::Ipmitool(const std::vector<std::string>& Arguments,
                                   int DeadlineSeconds) const {
  std::vector<std::string> Argv = IpmitoolCommand();
  Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
  CommandOutput Out;
  const fs::path Log = WorkPath("ipmitool.log");
  Out.ExitStatus = RunBounded(Argv, Log, DeadlineSeconds, &Out.TimedOut);
  Out.Output = ReadFile(Log);
  return Out;
}

int IpmiSimBmc::Stop() {
  const int Status = StopChild(Pid_, StopGraceSeconds);
  Pid_ = -1;
  return Status;
}

bool IpmiSimBmc::Running() const {
  return Pid_ > 0 && ChildExitStatus(Pid_) < 0;
}

std::string IpmiSimBmc::Log() const {
  return ReadFile(WorkPath("ipmi_sim.log"));
}

} // namespace fw
