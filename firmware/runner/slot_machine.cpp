#include "firmware/runner/slot_machine.h"

#include <algorithm>
#include <set>
#include <utility>

namespace fw {
namespace {

struct RootPort {
  const char* Location; // as the slot table writes its bridges
  const char* Id;
  const char* Place; // QEMU bus and address, and multifunction where a port shares its device
};

// Chassis numbers only have to differ between ports.
constexpr RootPort RootPorts[] = {
    {"00:02.0", "rp0020", "bus=pcie.0,addr=02.0,multifunction=on,chassis=1"},
    {"00:02.2", "rp0022", "bus=pcie.0,addr=02.2,chassis=2"},
    {"00:03.0", "rp0030", "bus=pcie.0,addr=03.0,multifunction=on,chassis=3"},
    {"00:03.1", "rp0031", "bus=pcie.0,addr=03.1,chassis=4"},
    {"41:01.0", "rp4110", "bus=pxb41,addr=01.0,chassis=5"},
    {"41:06.0", "rp4160", "bus=pxb41,addr=06.0,chassis=6"},
    {"41:08.0", "rp4180", "bus=pxb41,addr=08.0,chassis=7"},
    {"41:09.0", "rp4190", "bus=pxb41,addr=09.0,chassis=8"},
};

// The second root: its own bus 0x41, the slot table's bridges on it.
constexpr const char* SecondRoot = "pxb-pcie,id=pxb41,bus_nr=0x41,bus=pcie.0,addr=05.0";

const RootPort* PortAt(const std::string& Location) {
  for (const RootPort& P : RootPorts) {
    if (Location == P.Location) {
      return &P;
    }
  }
  return nullptr;
}

bool PlainName(const std::string& Model) {
  return !Model.empty() && std::all_of(Model.begin(), Model.end(), [](char C) {
    return (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-';
  });
}

} // namespace

std::string SlotMachineArguments(const std::vector<SlotFunction>& Functions,
                                 std::vector<std::string>* Arguments) {
  std::set<std::pair<std::string, unsigned>> Taken;
  std::set<std::string> SharedDevices; // bridges behind which a device has more than function 0
  for (const SlotFunction& F : Functions) {
    if (PortAt(F.Bridge) == nullptr) {
      return "no root port at " + F.Bridge + " in the slot table's machine";
    }
    if (F.Function > 7) {
      return "function " + std::to_string(F.Function) + " behind " + F.Bridge + ": 0 to 7";
    }
    if (!PlainName(F.Model)) {
      return "'" + F.Model + "' is not a QEMU device model name";
    }
    if (!Taken.insert({F.Bridge, F.Function}).second) {
      return "two functions at " + F.Bridge + " function " + std::to_string(F.Function);
    }
    if (F.Function != 0) {
      SharedDevices.insert(F.Bridge);
    }
  }
  std::vector<std::string> A;
  auto Device = [&A](const std::string& Text) {
    A.push_back("-device");
    A.push_back(Text);
  };
  Device(SecondRoot);
  for (const RootPort& P : RootPorts) {
    Device(std::string("pcie-root-port,id=") + P.Id + "," + P.Place);
  }
  for (const SlotFunction& F : Functions) {
    std::string Text = F.Model + ",bus=" + PortAt(F.Bridge)->Id + ",addr=00." +
                       std::to_string(F.Function) + ",romfile=";
    if (F.Function == 0 && SharedDevices.count(F.Bridge) != 0) {
      Text += ",multifunction=on";
    }
    Device(Text);
  }
  *Arguments = std::move(A);
  return "";
}

std::vector<std::string> InputLevelArguments(const InputLevels& Levels) {
  std::vector<std::string> A;
  // Interrupt lines no other device of the machine uses; the UARTs never raise them, since
  // nothing enables their interrupts.
  if (Levels.AdapterReadyLow) {
    A.insert(A.end(), {"-chardev", "null,id=readyinput", "-device",
                       "isa-serial,iobase=0x508,irq=10,chardev=readyinput"});
  }
  if (Levels.WaitDisabled) {
    A.insert(A.end(), {"-chardev", "null,id=waitinput", "-device",
                       "isa-serial,iobase=0x548,irq=11,chardev=waitinput"});
  }
  return A;
}

} // namespace fw
