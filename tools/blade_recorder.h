// Puts the simulated blade's records into one order. The blade keeps a record per kind (IPMI
// requests, Execute calls, port and MSR accesses, AP startups, status codes, variable writes); the
// recorder stands between the driver and the BMC as its IpmiTransportProtocol and notes, before
// each request, how far every other record had got. An Execute call then lies between two known
// IPMI requests, which is all a report needs to tell which command it carried.
//
//   sim::Blade Blade(Options);               // InstallIpmiTransport = false
//   tools::BladeRecorder Recorder(Blade, Scenario.Adapters.WaitAnswers);
//   Recorder.Install();
//   const tools::RecordMarks Before = Recorder.Now();
//   Blade.LoadDriver();
//   // Recorder.BeforeRequest()[I]: the records as they stood when request I was sent
#pragma once

#include <vector>

#include "sim/blade.h"
#include "tools/scenario_adapters.h"

namespace tools {

// How many entries each record of the blade held at one moment.
struct RecordMarks {
  size_t Requests = 0;
  std::vector<size_t> ExecuteCalls; // per adapter driver, in the blade's order
  size_t PlatformPorts = 0;
  size_t PciPorts = 0;
  size_t Msrs = 0;
  size_t Startups = 0;
  size_t StatusCodes = 0;
  size_t VariableWrites = 0;
  size_t Resets = 0;
};

class BladeRecorder {
public:
  // WaitAnswers: the BMC's scripted answers to the OEM wait messages, which the recorder hands to
  // the BMC just before the message they answer.
  BladeRecorder(sim::Blade& Blade, std::vector<WaitMessageAnswer> WaitAnswers);
  BladeRecorder(const BladeRecorder&) = delete;
  BladeRecorder& operator=(const BladeRecorder&) = delete;

  // Installs the recording transport as the blade's IpmiTransportProtocol.
  void Install();

  RecordMarks Now() const;
  // Entry I: the records as they stood when the driver sent IPMI request I.
  const std::vector<RecordMarks>& BeforeRequest() const { return Before_; }

private:
  struct Block {
    IPMI_TRANSPORT_PROTOCOL Iface; // first, so that This leads back to the recorder
    BladeRecorder* Owner;
  };
  static EFI_STATUS EFIAPI SendThunk(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFn, UINT8 Lun,
                                     UINT8 Cmd, UINT8* Request, UINT8 RequestSize, UINT8* Response,
                                     UINT8* ResponseSize);
  EFI_STATUS Send(UINT8 NetFn, UINT8 Lun, UINT8 Cmd, UINT8* Request, UINT8 RequestSize,
                  UINT8* Response, UINT8* ResponseSize);
  void ScriptWaitAnswer(UINT8 NetFn, UINT8 Cmd, const UINT8* Request, UINT8 RequestSize);

  sim::Blade& Blade_;
  std::vector<WaitMessageAnswer> WaitAnswers_;
  Block Block_;
  std::vector<RecordMarks> Before_;
};

} // namespace tools
