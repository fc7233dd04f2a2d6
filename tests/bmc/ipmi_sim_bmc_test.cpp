// The runner's ipmi_sim backend on its own: private files and ports, so that BMCs run side by side;
// ipmitool reaches each over its LAN channel and writes land in its FRU files; nothing is left
// running after it; a missing package is named.
#include <cstdlib>
#include <gtest/gtest.h>
#include <signal.h>

#include "firmware/runner/host_os.h"
#include "firmware/runner/ipmi_sim_bmc.h"

namespace {

fw::IpmiSimSettings OneDevice(uint8_t Fill) {
  fw::IpmiSimSettings Settings;
  Settings.FruDevices = {{3, std::vector<uint8_t>(512, Fill)}};
  return Settings;
}

TEST(IpmiSimBmc, TwoBmcsRunSideBySideEachWithItsOwnPortsAndFiles) {
  fw::IpmiSimBmc A(OneDevice(0x11));
  fw::IpmiSimBmc B(OneDevice(0x22));
  ASSERT_EQ(A.Failure(), "");
  ASSERT_EQ(B.Failure(), "");
  EXPECT_NE(A.VmPort(), B.VmPort());
  EXPECT_NE(A.LanPort(), B.LanPort());
  EXPECT_NE(A.FruPath(3), B.FruPath(3));
  for (const fw::IpmiSimBmc* Bmc : {&A, &B}) {
    EXPECT_TRUE(fw::LoopbackPortBound(true, Bmc->VmPort()));
    EXPECT_TRUE(fw::LoopbackPortBound(false, Bmc->LanPort()));
  }
  // Read FRU Data of 4 bytes at 0x100 from each, then Write FRU Data of 2 bytes there on A only.
  const fw::CommandOutput ReadA = A.Ipmitool({"raw", "0x0a", "0x11", "3", "0x00", "0x01", "4"});
  const fw::CommandOutput ReadB = B.Ipmitool({"raw", "0x0a", "0x11", "3", "0x00", "0x01", "4"});
  ASSERT_EQ(ReadA.ExitStatus, 0) << ReadA.Output;
  EXPECT_NE(ReadA.Output.find("04 11 11 11 11"), std::string::npos) << ReadA.Output;
  EXPECT_NE(ReadB.Output.find("04 22 22 22 22"), std::string::npos) << ReadB.Output;
  const fw::CommandOutput Write =
      A.Ipmitool({"raw", "0x0a", "0x12", "3", "0x00", "0x01", "0xAB", "0xCD"});
  ASSERT_EQ(Write.ExitStatus, 0) << Write.Output;
  std::vector<uint8_t> Expected(512, 0x11);
  Expected[0x100] = 0xAB;
  Expected[0x101] = 0xCD;
  EXPECT_EQ(A.FruBytes(3), Expected) << "the write changed A's file in place";
  EXPECT_EQ(B.FruBytes(3), std::vector<uint8_t>(512, 0x22));
}

TEST(IpmiSimBmc, StopEndsTheProcessAndFreesItsPorts) {
  fw::IpmiSimBmc Bmc(OneDevice(0));
  ASSERT_EQ(Bmc.Failure(), "");
  const pid_t Pid = Bmc.ProcessId();
  ASSERT_GT(Pid, 0);
  EXPECT_TRUE(Bmc.Running());
  Bmc.Stop();
  EXPECT_FALSE(Bmc.Running());
  EXPECT_NE(kill(Pid, 0), 0) << "no process is left behind";
  EXPECT_FALSE(fw::LoopbackPortBound(true, Bmc.VmPort()));
  EXPECT_FALSE(fw::LoopbackPortBound(false, Bmc.LanPort()));
}

TEST(IpmiSimBmc, AMissingProgramIsNamedWithThePackageThatBringsIt) {
  const std::string Path = std::getenv("PATH");
  fw::RunDirectory Empty("bladecfg-no-programs");
  setenv("PATH", Empty.Path().c_str(), 1);
  fw::IpmiSimBmc Bmc(OneDevice(0));
  setenv("PATH", Path.c_str(), 1);
  EXPECT_EQ(Bmc.Failure(),
            "ipmi_sim is not on PATH: install the openipmi package (scripts/install-deps.sh)");
  EXPECT_FALSE(Bmc.Running());
}

} // namespace
