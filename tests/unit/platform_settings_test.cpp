// The power-restore policy told to the BMC, and the active-core setting chosen by the processor's
// core count.
#include <optional>
#include <string>
#include <vector>

#include "platform/active_cores.h"
#include "platform/platform_command.h"
#include "platform/power_restore.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/exact_text.h"

namespace {

using testing_support::DriverTest;
using testing_support::ExactText;
using Bytes = std::vector<uint8_t>;

struct PowerCase {
  UINT8 AcLink;
  UINT8 CacheBefore;
  std::optional<UINT8> Request; // the Set Power Restore Policy byte, when one is sent
  UINT8 CacheAfter;
};

class PowerRestoreTest : public DriverTest, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(PowerRestoreTest, SendsOnlyWhenTheCacheDiffers) {
  const PowerCase& C = GetParam();
  Bytes Server(102, 0x5A);
  Bytes System(731, 0x5A);
  Server[2] = C.AcLink;
  System[408] = C.CacheBefore;
  const Bytes ServerBefore = Server;
  Bytes SystemAfter = System;
  SystemAfter[408] = C.CacheAfter;

  UpdatePowerRestorePolicy(Transport(), Server.data(), System.data());
  EXPECT_EQ(Server, ServerBefore);
  EXPECT_EQ(System, SystemAfter);
  const auto& Trace = Blade.Bmc.Trace();
  ASSERT_EQ(Trace.size(), C.Request ? 1u : 0u);
  if (C.Request) {
    EXPECT_EQ(Trace[0].NetFn, 0x00);
    EXPECT_EQ(Trace[0].Lun, 0);
    EXPECT_EQ(Trace[0].Cmd, 0x06);
    EXPECT_EQ(Trace[0].Data, Bytes{*C.Request});
    EXPECT_EQ(Trace[0].ResponseCapacity, 1);
  }
}

// AcLink: 0 stay off, 1 last state, 2 stay on. AcLinkCache: 0 stay off, 1 stay on, 2 last state.
INSTANTIATE_TEST_SUITE_P(Policies, PowerRestoreTest,
                         ::testing::Values(PowerCase{0, 0, std::nullopt, 0}, PowerCase{0, 1, 0, 0},
                                           PowerCase{0, 2, 0, 0}, PowerCase{1, 2, std::nullopt, 2},
                                           PowerCase{1, 0, 1, 2}, PowerCase{1, 1, 1, 2},
                                           PowerCase{2, 1, std::nullopt, 1}, PowerCase{2, 0, 2, 1},
                                           PowerCase{2, 2, 2, 1}, PowerCase{3, 0, std::nullopt, 0},
                                           PowerCase{3, 2, 3, 0}, PowerCase{0xFF, 1, 3, 0}));

class SettingsTest : public DriverTest {};

TEST_F(SettingsTest, PowerRestoreCacheKeepsItsValueWhenTheBmcRefuses) {
  Bytes Server(102, 0);
  Bytes System(731, 0);
  Server[2] = 1;
  Blade.Bmc.InjectStatus(EFI_DEVICE_ERROR);
  UpdatePowerRestorePolicy(Transport(), Server.data(), System.data());
  EXPECT_EQ(System[408], 2);
  EXPECT_EQ(Blade.Bmc.Trace().size(), 1u);
}

struct TopologyCase {
  UINT32 ThreadsPerCore;
  UINT32 LogicalPerPackage;
  UINT8 Cores;
};

class CoresPerPackageTest : public DriverTest,
                            public ::testing::WithParamInterface<TopologyCase> {};

TEST_P(CoresPerPackageTest, CoreLevelDividedByThreadLevel) {
  Blade.Platform.SetCpuTopology(GetParam().ThreadsPerCore, GetParam().LogicalPerPackage);
  EXPECT_EQ(GetCoresPerPackage(), GetParam().Cores);
}

INSTANTIATE_TEST_SUITE_P(
    Topologies, CoresPerPackageTest,
    ::testing::Values(TopologyCase{1, 4, 4}, TopologyCase{2, 12, 6}, TopologyCase{2, 16, 8},
                      TopologyCase{3, 8, 2}, TopologyCase{1, 1, 1},
                      TopologyCase{1, 0x104, 4}, // only bits 0-7 of EBX count
                      // A level that reports no logical processors gives the unknown count 0.
                      TopologyCase{0, 8, 0}, TopologyCase{2, 0, 0}));

TEST_F(SettingsTest, CoresPerPackageIsUnknownWithoutTheTopologyLeaf) {
  Blade.Platform.SetCpuTopology(2, 8);
  Blade.Platform.SetCpuidMaxLeaf(0x0A);
  EXPECT_EQ(GetCoresPerPackage(), 0);
}

TEST(ParseActiveCoreValue, TwoDigitsAtMostAndTheCoreCountOutOfRange) {
  struct Case {
    const char* Text;
    UINT8 CoreCount;
    UINT8 Value;
  };
  for (const Case& C : std::vector<Case>{{"2", 4, 2},
                                         {"12", 4, 4},
                                         {"0", 4, 4},
                                         {"", 4, 4},
                                         {"X", 4, 4},
                                         {"4", 4, 4},
                                         {"5", 4, 4},
                                         {"03", 4, 3},
                                         {"3X", 4, 3},
                                         {" 3", 4, 4},
                                         {"12", 8, 8},
                                         {"3", 8, 3},
                                         {"12", 16, 12},
                                         {"123", 16, 12},
                                         {"1 2", 16, 1},
                                         {"09", 16, 9},
                                         {"00", 16, 16},
                                         {"5", 0, 0}}) {
    auto Text = ExactText(C.Text);
    EXPECT_EQ(ParseActiveCoreValue(Text.get(), C.CoreCount), C.Value)
        << "'" << C.Text << "' on " << int(C.CoreCount) << " cores";
  }
}

TEST(SetActiveCores, CoreCountChoosesTheByteAndOnlyAChangeIsMarked) {
  struct Case {
    UINT8 CoreCount;
    size_t Offset; // ActiveCore2 56, ActiveCore4 51, ActiveCore6 57, ActiveCoreOther 58
  };
  for (const Case& C : std::vector<Case>{{2, 56}, {4, 51}, {6, 57}, {8, 58}, {1, 58}, {3, 58}}) {
    Bytes System(731, 0x5A);
    Bytes Expected = System;
    Expected[C.Offset] = 7;
    UINT8 Flags = 0x41;
    BOOLEAN Write = FALSE;
    EXPECT_EQ(SetActiveCores(System.data(), C.CoreCount, 7, &Flags, &Write), EFI_SUCCESS);
    EXPECT_EQ(System, Expected) << int(C.CoreCount) << " cores";
    EXPECT_EQ(Flags, 0x43);
    EXPECT_TRUE(Write);

    // The same value again: no mark, no reset, and an earlier mark is kept.
    Flags = 0x40;
    Write = FALSE;
    SetActiveCores(System.data(), C.CoreCount, 7, &Flags, &Write);
    EXPECT_EQ(Flags, 0x40);
    EXPECT_FALSE(Write);
    Write = TRUE;
    SetActiveCores(System.data(), C.CoreCount, 7, &Flags, &Write);
    EXPECT_TRUE(Write);
    EXPECT_EQ(System, Expected);
  }
}

struct ActiveCoreCommand {
  UINT32 ThreadsPerCore;
  UINT32 LogicalPerPackage;
  const char* Line;
  size_t Offset;
  UINT8 Value;
};

class ActiveCoreCommandTest : public DriverTest,
                              public ::testing::WithParamInterface<ActiveCoreCommand> {};

TEST_P(ActiveCoreCommandTest, StoresTheCountInTheByteOfThePackageSize) {
  const ActiveCoreCommand& C = GetParam();
  Blade.Platform.SetCpuTopology(C.ThreadsPerCore, C.LogicalPerPackage);
  Bytes System(731, 0);
  System[C.Offset] = 0x77;
  Blade.Firmware.Variables.Create(sim::vars::SystemSetup.Name, sim::vars::SystemSetup.Guid,
                                  sim::vars::SystemSetup.Attributes, System);
  System[C.Offset] = C.Value;

  auto Line = ExactText(C.Line);
  UINT32 Status = 0;
  UINT8 Flags = 0;
  ASSERT_EQ(ExecutePlatformCommand(Transport(), Line.get(), &Status, &Flags), EFI_SUCCESS);
  EXPECT_EQ(Status, 0x0E00u);
  EXPECT_EQ(Flags, 0x02);
  EXPECT_EQ(
      Blade.Firmware.Variables.Value(sim::vars::SystemSetup.Name, sim::vars::SystemSetup.Guid),
      System);
  EXPECT_EQ(
      Blade.Firmware.Variables.WriteCount(sim::vars::SystemSetup.Name, sim::vars::SystemSetup.Guid),
      1u);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ActiveCoreCommandTest,
    ::testing::Values(ActiveCoreCommand{2, 12, "SET B1 OEMTAL_ACTIVECORE=ALL", 57, 6},
                      ActiveCoreCommand{1, 2, "SET B1 OEMTAL_ACTIVECORE=ALL", 56, 2},
                      ActiveCoreCommand{1, 4, "SET B1 OEMTAL_ACTIVECORE=2", 51, 2},
                      ActiveCoreCommand{1, 4, "SET B1 OEMTAL_ACTIVECORE=12", 51, 4},
                      ActiveCoreCommand{1, 4, "SET B1 OEMTAL_ACTIVECORE=0", 51, 4},
                      ActiveCoreCommand{1, 4, "SET B1 OEMTAL_ACTIVECORE=", 51, 4},
                      ActiveCoreCommand{1, 4, "SET B1 OEMTAL_ACTIVECORE=Q", 51, 4},
                      ActiveCoreCommand{2, 16, "SET B1 OEMTAL_ACTIVECORE=12", 58, 8},
                      ActiveCoreCommand{2, 16, "SET B1 OEMTAL_ACTIVECORE=3", 58, 3},
                      // An unknown core count never asks for fewer cores.
                      ActiveCoreCommand{0, 8, "SET B1 OEMTAL_ACTIVECORE=ALL", 58, 0},
                      ActiveCoreCommand{0, 8, "SET B1 OEMTAL_ACTIVECORE=3", 58, 0}));

} // namespace
