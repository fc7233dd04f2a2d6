// A BMC program for the real-firmware boots: OpenIPMI's BMC simulator (ipmi_sim) with its FRU
// devices in files, a LAN channel on the loopback address for ipmitool, and a serial port that
// QEMU's ipmi-bmc-extern link connects to (BootRequest::ExternalBmcPort). The runner starts it in a
// private state directory on free ports, so that boots can run side by side, and ends it by its
// own process id: on Stop, on destruction, at the end of its lifetime, or when the runner dies.
//
// The same BMC serves any number of boots one after another: its FRU files keep what the hosts
// and the LAN wrote, as a BMC's storage does across host resets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fw {

class RunDirectory;

struct IpmiSimSettings {
  // FRU device id -> its bytes at the start; each device is a file of that size.
  std::map<unsigned, std::vector<uint8_t>> FruDevices;
  // ipmi_sim is killed past this many seconds, whatever becomes of the runner.
  unsigned LifetimeSeconds = 600;
  // Extra lines for ipmi_sim's command file, after the FRU devices, before the BMC is enabled.
  std::vector<std::string> Commands;
  // Extra lines for its lan.conf, for example a `loadlib "<module>" "<options>"` line.
  std::vector<std::string> Configuration;
};

struct CommandOutput {
  int ExitStatus = -1; // -1: could not be started; 128 + signal when a signal ended it
  bool TimedOut = false;
  std::string Output; // standard output and error together
};

class IpmiSimBmc {
public:
  // Starts ipmi_sim; Failure() says why when it could not (a missing package among them).
  explicit IpmiSimBmc(const IpmiSimSettings& Settings);
  ~IpmiSimBmc();
  IpmiSimBmc(const IpmiSimBmc&) = delete;
  IpmiSimBmc& operator=(const IpmiSimBmc&) = delete;

  // Empty while the BMC runs as asked.
  const std::string& Failure() const { return Failure_; }
  uint16_t VmPort() const { return VmPort_; }   // for BootRequest::ExternalBmcPort
  uint16_t LanPort() const { return LanPort_; } // RMCP+ on 127.0.0.1
  std::filesystem::path FruPath(unsigned Id) const;
  std::vector<uint8_t> FruBytes(unsigned Id) const; // the device's file as it is now
  // The ipmitool command line that reaches this BMC over its LAN channel, without a command.
  std::vector<std::string> IpmitoolCommand() const;
  // Runs ipmitool over the LAN channel with Arguments (for example {"fru", "read", "1", path}).
  CommandOutput Ipmitool(const std::vector<std::string>& Arguments, int DeadlineSeconds = 30) const;
  // A file in the BMC's private directory, for the caller's own inputs and outputs.
  std::filesystem::path WorkPath(const std::string& Name) const;

  // Ends ipmi_sim (SIGTERM, then SIGKILL) and returns its exit status; the files stay until
  // destruction. What it wrote on its standard output and error is in Log().
  int Stop();
  bool Running() const;
  pid_t ProcessId() const { return Pid_; }
  std::string Log() const;

private:
  bool StartOnce(const IpmiSimSettings& Settings, std::string* Why);

  std::unique_ptr<RunDirectory> Dir_;
  std::string Failure_;
  std::string Ipmitool_;
  pid_t Pid_ = -1;
  uint16_t VmPort_ = 0;
  uint16_t LanPort_ = 0;
  std::string Password_;
};

// Has ipmi_sim load its answers module (firmware/runner/ipmi_sim_answers.cpp) with Options, which
// the module's header describes. Empty, or why the module is not there.
std::string LoadAnswersModule(IpmiSimSettings& Settings, const std::string& Options);

// Whether a socket of this machine is bound to Port on the loopback address or every address:
// a listening TCP socket, or a UDP socket.
bool LoopbackPortBound(bool Tcp, uint16_t Port);

} // namespace fw
