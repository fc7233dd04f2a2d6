// The BMC's half of the mailbox lock, played over ipmi_sim's LAN channel by scripts/bmc-lock.sh
// while the host boots: the host asks, waits while the BMC holds the mailbox, and runs once the BMC
// yields; a BMC that never yields makes the host give up after its 40 polls of half a second.
#include <gtest/gtest.h>
#include <memory>

#include "firmware/runner/host_os.h"
#include "tests/bmc/bmc_boot.h"
#include "tests/support/boot_test.h"

namespace {

using namespace bmctest;

constexpr uint16_t Header = 512;
constexpr size_t ClpFailurePause = 276;

// The BMC with a platform mailbox of two commands; the scenario reports the lock and the records.
fw::IpmiSimSettings PlatformMailbox(const std::filesystem::path& Work) {
  const auto Json = Work / "lock-mailbox.json";
  const auto Image = Work / "lock-mailbox.bin";
  fw::WriteFile(Json, R"({"header_offset": 512, "lists": [[
      {"id": "0x0C01", "text": "SET B1 OEMTAL_LOM1=ENABLE"},
      {"id": "0x0C02", "text": "SET B1 OEMTAL_IPL1=CD"}]]})");
  const fw::CommandOutput Out =
      MailboxTool({"build", Json.string(), "-o", Image.string()}, Work / "build.log");
  EXPECT_EQ(Out.ExitStatus, 0) << Out.Output;
  const std::string Bytes = fw::ReadFile(Image);
  fw::IpmiSimSettings Settings;
  Settings.FruDevices = {{1, {Bytes.begin(), Bytes.end()}}};
  return Settings;
}

fw::ScenarioBuilder LockScenario(uint16_t ResultArea) {
  fw::ScenarioBuilder S;
  Variables Vars;
  Vars.TalBladeData[ClpFailurePause] = 1; // the give-up is reported
  Vars.Create(S);
  S.Readback(1, Header, 32).Readback(1, ResultArea, 12);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry");
  return S;
}

// The BMC with the platform mailbox, the lock script holding it, and one boot meanwhile.
class BmcLock : public testing_support::BootTest {
protected:
  // Hold: how long the script keeps the mailbox after the host asks ("forever": it never yields).
  void BootWhileTheBmcHolds(const std::string& Hold, const std::string& Name) {
    Bmc = std::make_unique<fw::IpmiSimBmc>(PlatformMailbox(Work.Path()));
    ASSERT_EQ(Bmc->Failure(), "");
    Image = Bmc->FruBytes(1);
    const DecodedImage Before = DecodeWithTool(Bmc->FruPath(1), Bmc->WorkPath("d.log"));
    ASSERT_EQ(Before.Failure, "");
    ResultArea = Before.ResultArea;
    Script = std::make_unique<BmcLockScript>(*Bmc, 1, Header, Hold);
    ASSERT_TRUE(Script->WaitForLine("BMC holds the mailbox", 30)) << Script->Output();
    B = BootWithIpmiSim(Name, *Bmc, LockScenario(ResultArea));
    ASSERT_TRUE(Reported(B));
  }

  fw::RunDirectory Work{"bladecfg-bmc-lock"};
  std::unique_ptr<fw::IpmiSimBmc> Bmc;
  std::unique_ptr<BmcLockScript> Script; // ended before the BMC
  std::vector<uint8_t> Image;
  uint16_t ResultArea = 0;
  Boot B;
};

TEST_F(BmcLock, TheHostWaitsWhileTheBmcHoldsTheMailboxAndRunsWhenItYields) {
  ASSERT_NO_FATAL_FAILURE(BootWhileTheBmcHolds("3", "BMC holds, then yields"));
  ASSERT_EQ(Script->Wait(30), 0) << Script->Output();
  const std::string Said = Script->Output();
  EXPECT_NE(Said.find("the host asks for it (LockTurn 1, BmcLockFlag 1, HostLockFlag 1)"),
            std::string::npos)
      << Said;
  EXPECT_NE(Said.find("before yielding: LockTurn 1, BmcLockFlag 1, HostLockFlag 1"),
            std::string::npos)
      << "the host still waits after three seconds:\n"
      << Said;

  const fw::Snapshot& E = SnapshotOf(B, "entry");
  EXPECT_EQ(Slice(FruRead(E, 1, Header), 28, 3), (std::vector<uint8_t>{1, 0, 1}));
  const DecodedImage After = DecodeWithTool(Bmc->FruPath(1), Bmc->WorkPath("d.log"));
  EXPECT_EQ(After.Results, (std::vector<ResultRecord>{{0, 0, 0x0C01, Done}, {0, 1, 0x0C02, Done}}));
  EXPECT_EQ(E.CodesSeen, 0u) << "waiting for the lock is no failure";
  EXPECT_GE(B.Result.Seconds, 3.0) << "the host waited the BMC's three seconds at least";
}

TEST_F(BmcLock, ABmcThatNeverYieldsMakesTheHostGiveUpReportAndWriteNothing) {
  ASSERT_NO_FATAL_FAILURE(BootWhileTheBmcHolds("forever", "BMC never yields"));
  EXPECT_NE(Script->Output().find("the host asks for it"), std::string::npos) << Script->Output();
  EXPECT_EQ(Script->Wait(0), -1) << "the BMC still holds the mailbox";

  const fw::Snapshot& E = SnapshotOf(B, "entry");
  EXPECT_EQ(Slice(FruRead(E, 1, Header), 28, 3), (std::vector<uint8_t>{1, 1, 0}))
      << "the host gave up: HostLockFlag back to 0, the BMC's flag untouched";
  EXPECT_EQ(FruRead(E, 1, ResultArea), std::vector<uint8_t>(12, 0xFF)) << "no record";
  ASSERT_EQ(E.Codes.size(), 1u) << "one failure report";
  EXPECT_EQ(E.Codes[0].Value, ClpFailureCode);
  EXPECT_EQ(VariableBytes(E, "CLPFailureFlag"), std::vector<uint8_t>{1});
  EXPECT_GE(B.Result.Seconds, 20.0) << "40 polls half a second apart";
  const std::vector<uint8_t> Now = Bmc->FruBytes(1);
  for (size_t I = 0; I < Now.size(); ++I) {
    if (I != Header + 28u && I != Header + 29u) {
      ASSERT_EQ(Now[I], Image[I]) << "byte " << I << " moved";
    }
  }
}

} // namespace
