// Every pool allocation of an arrival failing in turn: a wait, a run over two adapters with
// settings, translations and a failure report. Whatever fails, the arrival ends and gives every
// buffer back.
#include "tests/support/adapter_blade.h"

namespace {

using namespace testing_support;

constexpr unsigned SweptAllocations = 20;

class ArrivalPoolTest : public AdapterBladeTest, public ::testing::WithParamInterface<unsigned> {
protected:
  ArrivalPoolTest() {
    PutAdapter(6, 0x8086, 0x10FB);
    PutAdapter(7, 0x8086, 0x10FB);
    SetBlade32(blade::PendingMask8086, 0xC0);
    SetAdapterReady(false);
    SetWaitEnable(true);
    SetAdapterReady(true, 600'000);
    PutMailbox(0x05, {{{0x0001, "SET B1 OEMTAL_SERIAL=SN1"},
                       {0x0002, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                       {0x0003, "SET NETPORT2 OEMTAL_BOOTENABLE=DISABLE"}}});
    Nic.AnswerText("SET BootEnable=DISABLE", {0xF502});
  }
  // The arrival, with allocation Nth from its start failing (0: none).
  sim::BootOutcome Arrive(unsigned Nth) {
    Load();
    if (Nth != 0) {
      Blade.Firmware.Pool.FailAllocation(Nth);
    }
    First = Blade.Firmware.Pool.TotalAllocations();
    return Blade.StartAdapter(Nic, At(6));
  }
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  uint64_t First = 0;
};

TEST_F(ArrivalPoolTest, TheSweepCoversEveryAllocation) {
  ASSERT_TRUE(Arrive(0).Returned);
  EXPECT_EQ(Nic.Texts(),
            (std::vector<std::string>{"SET BootEnable=ENABLE", "SET BootEnable=DISABLE"}));
  EXPECT_EQ(FailureReports(), 1u);
  const uint64_t Made = Blade.Firmware.Pool.TotalAllocations() - First;
  EXPECT_GT(Made, 10u);
  EXPECT_LE(Made, SweptAllocations);
}

TEST_P(ArrivalPoolTest, AFailingAllocationLeavesNoBufferBehind) {
  const sim::BootOutcome Outcome = Arrive(GetParam());
  EXPECT_TRUE(Outcome.Returned);
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
  EXPECT_LE(Nic.Calls().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Allocations, ArrivalPoolTest, ::testing::Range(1u, SweptAllocations + 1));

} // namespace
