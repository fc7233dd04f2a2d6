// Simulated network and storage adapter drivers. Each AdapterDriver stands for one vendor's
// driver: when it starts on a PCI function it installs an AdapterClpProtocol record (the packed
// 20-byte layout of core/protocols.h, Execute at offset 12) on a handle of its own, whose
// ControllerHandle is the function's PCI I/O handle. Notifications of the protocol run inside that
// InstallProtocolInterface, as in real firmware. Every driver has its own Execute function, which
// serves any PCI function that the handle in This names, answers from a script and logs each call.
//
//   sim::Blade Blade;
//   Blade.Pci.Bridge("00:03.0", 5).Device(0, 0x8086, 0x10FB, 2);
//   sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
//   Nic.AnswerText("SET BootEnable=ENABLE", {0xF002});     // every time this text comes
//   Nic.AnswerCall(3, {0x0500, EFI_DEVICE_ERROR});         // the driver's third call
//   Blade.LoadDriver();
//   Blade.StartAdapter(Nic, "05:00.0");                     // the arrival runs in here
//   EXPECT_EQ(Nic.Calls()[0].Location, sim::PciAddress("05:00.0"));
//   EXPECT_EQ(Nic.Texts(), (std::vector<std::string>{"SET BootEnable=ENABLE"}));
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/protocols.h"
#include "sim/pci_bus.h"

namespace sim {

class Firmware;

// The status word an adapter answers a command it carried out with.
constexpr UINT32 AdapterCommandDone = 0x0500;

// How Execute answers one call: the status word it sets and the EFI status it returns.
struct ClpAnswer {
  UINT32 StatusWord = AdapterCommandDone;
  EFI_STATUS Status = EFI_SUCCESS;
};

// One call of a driver's Execute, as the driver saw it.
struct ExecuteCall {
  uint64_t Time;                      // virtual microseconds
  unsigned Number;                    // the driver's calls counted from 1 (ClearCalls starts again)
  const void* This;                   // the interface record passed
  bool ThisInstalled;                 // This is one of the records the driver installed, not a copy
  UINT32 Reserved;                    // This's UINT32 at offset 8
  EFI_HANDLE Controller;              // This's ControllerHandle
  std::optional<PciAddress> Location; // the PCI function whose PCI I/O that handle carries
  bool StartedOn;                     // the driver had started on that function in this boot
  std::string Text;                   // the command text up to its NUL (at most 256 bytes)
  bool Terminated;                    // a NUL within the 256-byte command buffer
  bool ResponseZeroed;                // all 4096 bytes of the response buffer were 0 on entry
  ClpAnswer Answer;                   // what the call answered
};

class AdapterDriver {
public:
  const std::string& Name() const { return Name_; }
  // The UINT32 at offset 8 of every record the driver installs (its own, not the caller's).
  UINT32 Signature() const { return Signature_; }

  // The script. A call takes the answer given for its number if there is one, else the first text
  // answer with times left whose text equals the command exactly, else the default (0x0500,
  // EFI_SUCCESS). The status word is set whatever EFI status is returned.
  AdapterDriver& AnswerByDefault(ClpAnswer Answer);
  AdapterDriver& AnswerCall(unsigned Number, ClpAnswer Answer);
  AdapterDriver& AnswerText(const std::string& Text, ClpAnswer Answer, int Times = -1);

  const std::vector<ExecuteCall>& Calls() const { return Calls_; }
  std::vector<std::string> Texts() const;
  void ClearCalls();

  // The functions the driver started on in this boot, in order, and what it installed for each.
  std::vector<PciAddress> StartedOn() const;
  EFI_HANDLE Handle(PciAddress Function) const;            // nullptr when not started on it
  ADAPTER_CLP_PROTOCOL* Record(PciAddress Function) const; // nullptr when not started on it

private:
  friend class AdapterDrivers;
  struct Instance {
    std::optional<PciAddress> Function; // unset for a controller that is no PCI function
    EFI_HANDLE Handle = nullptr;
    ADAPTER_CLP_PROTOCOL Record{};
  };
  struct TextAnswer {
    std::string Text;
    ClpAnswer Answer;
    int Times;
  };
  AdapterDriver(std::string Name, size_t Slot);
  const Instance* InstanceOn(PciAddress Function) const;
  ClpAnswer AnswerFor(unsigned Number, const std::string& Text);

  std::string Name_;
  size_t Slot_;
  UINT32 Signature_;
  ClpAnswer Default_;
  std::vector<std::pair<unsigned, ClpAnswer>> ByNumber_;
  std::vector<TextAnswer> ByText_;
  std::vector<ExecuteCall> Calls_;
  std::vector<std::unique_ptr<Instance>> Instances_; // records stay where they were installed
};

class AdapterDrivers {
public:
  static constexpr size_t MaxDrivers = 32;

  AdapterDrivers(Firmware& Firmware, PciBus& Pci);
  ~AdapterDrivers();
  AdapterDrivers(const AdapterDrivers&) = delete;
  AdapterDrivers& operator=(const AdapterDrivers&) = delete;

  // A new driver; it has started on nothing yet. At most MaxDrivers.
  AdapterDriver& Add(const std::string& Name = "");
  size_t Count() const { return Drivers_.size(); }
  AdapterDriver& operator[](size_t Index) { return *Drivers_.at(Index); }

  // The driver starts on Function: AdapterClpProtocol on a new handle, ControllerHandle the
  // function's PCI I/O handle. Returns the install's status; the protocol's notifications have
  // run when it returns. EFI_ALREADY_STARTED when the driver runs on the function already; a
  // function without a PCI I/O handle is a problem (EFI_NOT_FOUND), and nothing is installed.
  EFI_STATUS Start(AdapterDriver& Driver, PciAddress Function);
  // The same with any handle as ControllerHandle (one that carries no PCI I/O, or none at all).
  EFI_STATUS StartOnController(AdapterDriver& Driver, EFI_HANDLE Controller);

  // A new boot: the records of the boot before went with its handle database.
  void StartBoot();

  // Execute of driver Slot.
  EFI_STATUS Execute(size_t Slot, ADAPTER_CLP_PROTOCOL* This, CHAR8* CommandText, CHAR8* Response,
                     UINT32* Status);

private:
  EFI_STATUS Install(AdapterDriver& Driver, std::optional<PciAddress> Function,
                     EFI_HANDLE Controller);
  Firmware& Firmware_;
  PciBus& Pci_;
  std::vector<std::unique_ptr<AdapterDriver>> Drivers_;
};

} // namespace sim
