// Whole boots: the platform pass, adapters of several vendors arriving over virtual time, and the
// completion signal afterwards.
#include "tests/support/adapter_blade.h"

namespace {

using namespace testing_support;

class AdapterBootTest : public AdapterBladeTest {};

TEST_F(AdapterBootTest, SeveralVendorsInOneBootThenTheCompletionSignal) {
  const mf::MailboxLayout Platform =
      PutMailbox(0x01, {{{0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"}}});
  PutAdapter(6, 0x8086, 0x10FB);
  PutAdapter(2, 0x10DF, 0xE200);
  PutAdapter(12, 0x14E4, 0x168E);
  SetBlade32(blade::PendingMask8086, 0x40);
  SetBlade32(blade::PendingMask10DF, 0x04);
  SetBlade32(blade::PendingMask14E4, 0x400);
  SetFruIdList({0x04, 0x05, 0x50, 0, 0, 0});
  const mf::MailboxLayout L5 =
      PutMailbox(0x05, {{{0x0501, "SET NETPORT1 OEMTAL_BOOTPRIORITY=DISABLE"}}});
  const mf::MailboxLayout L4 = PutMailbox(0x04, {{{0x0401, "SET N1 OEMTAL_X=Y"}}});
  const mf::MailboxLayout L50 =
      PutMailbox(0x50, {{{0x5001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  sim::AdapterDriver& Nic8086 = Blade.Adapters.Add("8086");
  sim::AdapterDriver& Fc10DF = Blade.Adapters.Add("10DF");
  sim::AdapterDriver& Nic14E4 = Blade.Adapters.Add("14E4");
  Nic14E4.AnswerByDefault({0x0E00});

  Load();
  EXPECT_EQ(Record(0x01, Platform, 0, 0), Bytes({0x00, 0x01, 0x00, 0x0E, 0x00, 0x00}));
  EXPECT_EQ(Lock(0x01), Bytes({1, 0, 1}));
  Blade.ScheduleAdapterStart(Nic8086, At(6), 1'000'000);
  Blade.ScheduleAdapterStart(Fc10DF, At(2), 2'000'000);
  Blade.ScheduleAdapterStart(Nic14E4, At(12), 3'000'000);
  Blade.ScheduleCompletionSignal(4'000'000);
  const std::vector<sim::ScheduledOutcome> Steps = Blade.RunScheduled();
  ASSERT_EQ(Steps.size(), 4u);
  for (const sim::ScheduledOutcome& S : Steps) {
    EXPECT_TRUE(S.Outcome.Returned) << S.What;
  }

  EXPECT_EQ(Nic8086.Texts(), std::vector<std::string>{"SET BootPriority=Disabled"});
  EXPECT_EQ(Fc10DF.Texts(), std::vector<std::string>{"Set Netport1 OEMTAL_X=Y"});
  EXPECT_EQ(Nic14E4.Texts(), std::vector<std::string>{"SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"});
  EXPECT_EQ(Record(0x05, L5, 0, 0), Bytes({0x05, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, L4, 0, 0), Bytes({0x04, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x50, L50, 0, 0), Bytes({0x50, 0x01, 0x00, 0x0E, 0x00, 0x00}));
  for (size_t Mask : {blade::PendingMask8086, blade::PendingMask10DF, blade::PendingMask14E4}) {
    EXPECT_EQ(Blade32(Mask), 0u) << Mask;
  }
  EXPECT_EQ(Blade32(blade::DeviceEnableMask), 0x1u) << "the platform command's setting stays";
  EXPECT_EQ(FruIdList(), Bytes({0, 0, 0, 0, 0, 0}));
  for (UINT8 Fru : {0x04, 0x05, 0x50}) {
    EXPECT_EQ(Lock(Fru), Bytes({1, 0, 0})) << int(Fru);
  }
  EXPECT_EQ(Lock(0x01), Bytes({1, 0, 0})) << "released at the completion signal";
  EXPECT_EQ(FailureReports(), 0u) << "nothing left pending";
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
}

// An adapter driver that installed its protocol before this driver loaded is never notified: its
// FRU device stays listed, which the completion signal reports.
TEST_F(AdapterBootTest, AnAdapterThatArrivedBeforeTheDriverLoadedIsNeverServed) {
  PutAdapter(2, 0x10DF);
  SetBlade32(blade::PendingMask10DF, 0x04);
  SetFruIdList({0x04, 0, 0, 0, 0, 0});
  PutMailbox(0x04, {{{0x0401, "exit"}}});
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  ASSERT_TRUE(Blade.StartAdapter(Fc, At(2)).Returned);
  Load();
  ASSERT_TRUE(Blade.InstallCompletionSignal().Returned);
  EXPECT_TRUE(Fc.Calls().empty());
  EXPECT_EQ(FruIdList(), Bytes({0x04, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FailureReports(), 1u);
}

// The platform's own positions share its mailbox, which the platform pass left locked: the run
// takes it as held, passes over the platform's list without sending its commands, and leaves it
// locked for the completion signal.
TEST_F(AdapterBootTest, ThePlatformsPositionRunsOnTheLockedPlatformMailbox) {
  const mf::MailboxLayout L =
      PutMailbox(0x01, {{{0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM2=ENABLE"},
                         {0x0002, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}},
                        {{0x0101, "SET NETPORT1 OEMTAL_BOOTPRIORITY=DISABLE"}}});
  PutAdapter(0, 0x8086);
  SetBlade32(blade::PendingMask8086, 0x01);
  SetFruIdList({0x01, 0, 0, 0, 0, 0});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Load();
  EXPECT_EQ(Record(0x01, L, 0, 0), Bytes({0x00, 0x01, 0x00, 0x0E, 0x00, 0x00}));
  EXPECT_EQ(Record(0x01, L, 0, 1), Unwritten(6)) << "left to the adapter run";

  ASSERT_TRUE(Blade.StartAdapter(Nic, At(0)).Returned);
  EXPECT_EQ(Nic.Texts(),
            (std::vector<std::string>{"SET BootEnable=ENABLE", "SET BootPriority=Disabled"}));
  EXPECT_EQ(Record(0x01, L, 0, 0), Bytes({0x00, 0x01, 0x00, 0x0E, 0x00, 0x00}))
      << "the platform command's record stands";
  EXPECT_EQ(Record(0x01, L, 0, 1), Bytes({0x00, 0x02, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x01, L, 1, 0), Bytes({0x01, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Lock(0x01), Bytes({1, 0, 1}));
  EXPECT_EQ(FruIdList(), Bytes({0, 0, 0, 0, 0, 0}));

  ASSERT_TRUE(Blade.InstallCompletionSignal().Returned);
  EXPECT_EQ(Lock(0x01), Bytes({1, 0, 0}));
  EXPECT_EQ(FailureReports(), 0u);
}

} // namespace
