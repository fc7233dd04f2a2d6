// A blade with the root ports of every adapter position, FRU devices for every adapter mailbox, and
// views of what the adapter arrivals did: records, lock bytes, pending masks, OEM messages and
// MSRs. Facts are spelled out here, not taken from the driver.
#pragma once

#include <string>
#include <vector>

#include "sim/adapter_drivers.h"
#include "tests/support/driver_fixture.h"

namespace testing_support {

namespace mf = mailbox_format;

// TalBladeData fields.
namespace blade {
constexpr size_t SerialValid = 1;
constexpr size_t AdapterReadyWait = 2;
constexpr size_t Serial = 20;
constexpr size_t DeviceEnableMask = 152;
constexpr size_t PendingMask14E4 = 172;
constexpr size_t NparRestoreMask = 176;
constexpr size_t DeferredReset = 180;
constexpr size_t PendingMask8086 = 188;
constexpr size_t PendingMask10DF = 212;
} // namespace blade

// Each position's PCI function as this blade is built: the root ports get the secondary buses
// below, and every adapter is device 0 behind its port.
struct Position {
  UINT8 FruId;
  const char* Function;
  UINT32 Bit;
};
inline const Position Positions[24] = {
    {0x01, "04:00.0", 0x00001}, {0x01, "04:00.1", 0x00002}, // 00:02.2 -> bus 4
    {0x04, "02:00.0", 0x00004}, {0x04, "02:00.1", 0x00008}, // 00:02.0 -> bus 2
    {0x04, "02:00.2", 0x00010}, {0x04, "02:00.3", 0x00020}, //
    {0x05, "05:00.0", 0x00040}, {0x05, "05:00.1", 0x00080}, // 00:03.0 -> bus 5
    {0x05, "05:00.2", 0x00100}, {0x05, "05:00.3", 0x00200}, //
    {0x05, "06:00.0", 0x00100}, {0x05, "06:00.1", 0x00200}, // 00:03.1 -> bus 6
    {0x50, "43:00.0", 0x00400}, {0x50, "43:00.1", 0x00800}, // 41:06.0 -> bus 0x43
    {0x51, "42:00.0", 0x01000}, {0x51, "42:00.1", 0x02000}, // 41:01.0 -> bus 0x42
    {0x51, "42:00.2", 0x04000}, {0x51, "42:00.3", 0x08000}, //
    {0x52, "44:00.0", 0x10000}, {0x52, "44:00.1", 0x20000}, // 41:08.0 -> bus 0x44
    {0x52, "44:00.2", 0x40000}, {0x52, "44:00.3", 0x80000}, //
    {0x52, "45:00.0", 0x40000}, {0x52, "45:00.1", 0x80000}, // 41:09.0 -> bus 0x45
};
inline const UINT8 AdapterFrus[] = {0x04, 0x05, 0x50, 0x51, 0x52};

// The OEM messages around the wait for the adapters.
inline const std::vector<uint8_t> WaitBegins = {0x02, 0x00, 0x00, 0x43, 0x46};
inline const std::vector<uint8_t> WaitEnds = {0x02, 0x00, 0x00, 0x42, 0x32};

constexpr UINT32 ClockModulation = 0x19A;
constexpr UINT16 H = 512; // every mailbox header in these tests

// The root ports of every adapter position, with the secondary buses of Positions.
inline void AddRootPorts(sim::Blade& Blade) {
  const struct {
    const char* At;
    UINT8 Secondary;
  } Ports[] = {{"00:02.2", 0x04}, {"00:02.0", 0x02}, {"00:03.0", 0x05}, {"00:03.1", 0x06},
               {"41:06.0", 0x43}, {"41:01.0", 0x42}, {"41:08.0", 0x44}, {"41:09.0", 0x45}};
  for (const auto& P : Ports) {
    Blade.Pci.Bridge(P.At, P.Secondary);
  }
}

class AdapterBladeTest : public DriverTest {
protected:
  AdapterBladeTest() : AdapterBladeTest(sim::BladeOptions{}) {}
  explicit AdapterBladeTest(const sim::BladeOptions& Options) : DriverTest(Options) {
    AddRootPorts(Blade);
    for (UINT8 Fru : AdapterFrus) {
      Blade.Bmc.AddFruDevice(Fru, DefaultFruSize);
    }
    EnableFailureReports();
    SetAdapterReady(true);
  }

  static sim::PciAddress At(UINT8 Row) { return Positions[Row].Function; }

  // An adapter function of Vendor at a row's position.
  void PutAdapter(UINT8 Row, UINT16 Vendor, UINT16 Device = 0x1000) {
    Blade.Pci.Function(At(Row), Vendor, Device);
  }

  // ResultArea 0: right behind the lists.
  mf::MailboxLayout PutMailbox(UINT8 Fru, const std::vector<std::vector<mf::MailboxCommand>>& Lists,
                               bool NoResultArea = false, UINT16 ResultArea = 0) {
    sim::MailboxContents Contents;
    Contents.HeaderOffset = H;
    Contents.Lists = Lists;
    Contents.NoResultArea = NoResultArea;
    Contents.ResultAreaOffset = ResultArea;
    return sim::WriteMailbox(Blade.Bmc, Fru, Contents);
  }
  // A mailbox with lists where List has one and no list (offset 0) elsewhere.
  mf::MailboxLayout
  PutMailboxLists(UINT8 Fru,
                  const std::vector<std::optional<std::vector<mf::MailboxCommand>>>& Lists) {
    mf::MailboxImage Image;
    Image.Size = Blade.Bmc.Fru(Fru).size();
    Image.HeaderOffset = H;
    for (size_t J = 0; J < Lists.size(); ++J) {
      if (Lists[J]) {
        Image.Lists[J] = mf::MailboxList{*Lists[J], true, std::nullopt};
      }
    }
    return sim::WriteMailbox(Blade.Bmc, Fru, Image);
  }

  // The six bytes of the record of command Index of list List, as the BMC reads them.
  std::vector<uint8_t> Record(UINT8 Fru, const mf::MailboxLayout& L, UINT8 List,
                              UINT8 Index) const {
    return Blade.Bmc.ReadFru(Fru, static_cast<UINT16>(L.ResultAreaOffset + 192 * List + 6 * Index),
                             6);
  }
  std::vector<uint8_t> Lock(UINT8 Fru) const { return Blade.Bmc.ReadFru(Fru, H + LockTurn, 3); }

  void SetAdapterReady(bool High, uint64_t From = 0) {
    Blade.Platform.SetInputLevel(0x50C, 1u << 0, High, From);
  }
  void SetWaitEnable(bool High) { Blade.Platform.SetInputLevel(0x548, 1u << 9, High); }

  UINT32 Blade32(size_t Offset) {
    const std::vector<uint8_t> D = BladeData();
    return D[Offset] | D[Offset + 1] << 8 | D[Offset + 2] << 16 |
           static_cast<UINT32>(D[Offset + 3]) << 24;
  }
  void SetBlade32(size_t Offset, UINT32 Value) {
    for (size_t I = 0; I < 4; ++I) {
      SetBladeData(Offset + I, static_cast<uint8_t>(Value >> (8 * I)));
    }
  }
  size_t BladeDataWrites() const {
    return Blade.Firmware.Variables.WriteCount(sim::vars::TalBladeData.Name,
                                               sim::vars::TalBladeData.Guid);
  }
  // TalBladeData as each write left it, from write First on.
  std::vector<std::vector<uint8_t>> BladeDataWritten(size_t First = 0) const {
    std::vector<std::vector<uint8_t>> Out;
    size_t N = 0;
    for (const sim::VariableWrite& W : Blade.Firmware.Variables.Writes()) {
      if (W.Name == sim::vars::TalBladeData.Name &&
          GuidEquals(W.Guid, sim::vars::TalBladeData.Guid) && N++ >= First) {
        Out.push_back(W.Data);
      }
    }
    return Out;
  }

  void SetFruIdList(const std::vector<uint8_t>& List) {
    const sim::VariableSpec& V = sim::vars::ClpCommandFruIdList;
    Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, List);
  }
  std::vector<uint8_t> FruIdList() const {
    const sim::VariableSpec& V = sim::vars::ClpCommandFruIdList;
    return Blade.Firmware.Variables.Value(V.Name, V.Guid).value_or(std::vector<uint8_t>{});
  }

  std::vector<std::vector<uint8_t>> OemMessages() const {
    std::vector<std::vector<uint8_t>> Out;
    for (const sim::IpmiRequest& R : Blade.Bmc.Requests(0x30, 0x30)) {
      Out.push_back(R.Data);
    }
    return Out;
  }
  size_t FruWritesTo(UINT8 Fru) const {
    size_t N = 0;
    for (const FruAccess& A : Accesses(FruWrites())) {
      N += A.FruId == Fru ? 1 : 0;
    }
    return N;
  }
  size_t FruReadsOf(UINT8 Fru) const {
    size_t N = 0;
    for (const FruAccess& A : Accesses(FruReads())) {
      N += A.FruId == Fru ? 1 : 0;
    }
    return N;
  }

  // Loads the driver; the platform pass finds no mailbox in FRU device 1 unless a test put one.
  void Load() {
    const sim::BootOutcome Outcome = Blade.LoadDriver();
    ASSERT_TRUE(Outcome.Returned);
  }
};

// The default blade without one of its protocols, for example
// Without(&sim::BladeOptions::InstallMpServices).
inline sim::BladeOptions Without(bool sim::BladeOptions::*Protocol) {
  sim::BladeOptions Options;
  Options.*Protocol = false;
  return Options;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> Values) {
  std::vector<uint8_t> Out;
  for (int V : Values) {
    Out.push_back(static_cast<uint8_t>(V));
  }
  return Out;
}

inline std::vector<uint8_t> Unwritten(size_t Count) {
  return std::vector<uint8_t>(Count, 0xFF);
}

} // namespace testing_support
