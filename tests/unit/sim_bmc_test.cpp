// The simulated BMC through its IPMI transport: FRU data commands, injected answers, and the
// BMC's own writes over virtual time.
#include <gtest/gtest.h>

#include <vector>

#include "sim/bmc.h"
#include "sim/firmware.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Reply {
  EFI_STATUS Status;
  Bytes Response;
};

class SimBmc : public ::testing::Test {
protected:
  SimBmc() {
    Bmc.AddFruDevice(1, 40);
    for (size_t I = 0; I < 40; ++I) {
      Bmc.Fru(1)[I] = static_cast<uint8_t>(I);
    }
  }

  Reply Send(UINT8 NetFn, UINT8 Cmd, Bytes Request, UINT8 Capacity = 64) {
    Bytes Response(Capacity + 8, 0xEE); // slack past the capacity shows any overrun
    UINT8 Size = Capacity;
    IPMI_TRANSPORT_PROTOCOL* T = Bmc.Transport();
    EFI_STATUS Status =
        T->SendIpmiCommand(T, NetFn, 0, Cmd, Request.data(), static_cast<UINT8>(Request.size()),
                           Response.data(), &Size);
    for (size_t I = Capacity; I < Response.size(); ++I) {
      EXPECT_EQ(Response[I], 0xEE) << "written past the capacity at " << I;
    }
    Response.resize(Size);
    return {Status, Response};
  }
  Reply Read(UINT8 Fru, UINT16 Offset, UINT8 Count, UINT8 Capacity = 64) {
    return Send(sim::ipmi::NetFnStorage, sim::ipmi::CmdReadFruData,
                {Fru, static_cast<UINT8>(Offset), static_cast<UINT8>(Offset >> 8), Count},
                Capacity);
  }
  Reply Write(UINT8 Fru, UINT16 Offset, Bytes Data) {
    Bytes Request{Fru, static_cast<UINT8>(Offset), static_cast<UINT8>(Offset >> 8)};
    Request.insert(Request.end(), Data.begin(), Data.end());
    return Send(sim::ipmi::NetFnStorage, sim::ipmi::CmdWriteFruData, Request);
  }

  sim::VirtualClock Clock;
  sim::Bmc Bmc{Clock};
};

Reply Error(UINT8 Code) {
  return {EFI_DEVICE_ERROR, {Code}};
}

bool operator==(const Reply& A, const Reply& B) {
  return A.Status == B.Status && A.Response == B.Response;
}

std::ostream& operator<<(std::ostream& Out, const Reply& R) {
  Out << "status " << std::hex << R.Status << ", response";
  for (uint8_t B : R.Response) {
    Out << ' ' << int(B);
  }
  return Out;
}

TEST_F(SimBmc, ReadFruDataAnswers) {
  struct Case {
    const char* What;
    Bytes Request;
    UINT8 Capacity;
    Reply Expected;
  } const Cases[] = {
      {"inside", {1, 4, 0, 3}, 64, {EFI_SUCCESS, {3, 4, 5, 6}}},
      {"clamped at the end", {1, 38, 0, 16}, 64, {EFI_SUCCESS, {2, 38, 39}}},
      {"offset at the end", {1, 40, 0, 1}, 64, Error(0xCC)},
      {"offset high byte", {1, 4, 1, 1}, 64, Error(0xCC)},
      {"absent device", {2, 0, 0, 1}, 64, Error(0xCB)},
      {"short request", {1, 0, 0}, 64, Error(0xC7)},
      {"long request", {1, 0, 0, 1, 0}, 64, Error(0xC7)},
      {"response larger than the buffer", {1, 0, 0, 16}, 16, Error(0xCA)},
      {"no room even for the code", {1, 0, 0, 16}, 0, {EFI_DEVICE_ERROR, {}}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    EXPECT_EQ(Send(sim::ipmi::NetFnStorage, sim::ipmi::CmdReadFruData, C.Request, C.Capacity),
              C.Expected);
  }
  ASSERT_EQ(Bmc.Trace().size(), std::size(Cases));
  EXPECT_EQ(Bmc.Trace()[1].CompletionCode, 0);
  EXPECT_EQ(Bmc.Trace()[2].CompletionCode, 0xCC);
  EXPECT_EQ(Bmc.Trace()[7].ResponseCapacity, 16);
}

TEST_F(SimBmc, WriteFruDataAnswersAndClampsAtTheEnd) {
  EXPECT_EQ(Write(1, 2, {0xA0, 0xA1}), (Reply{EFI_SUCCESS, {2}}));
  EXPECT_EQ(Write(1, 39, {0xB0, 0xB1, 0xB2}), (Reply{EFI_SUCCESS, {1}}));
  EXPECT_EQ(Write(1, 40, {0xC0}), Error(0xCC));
  EXPECT_EQ(Write(3, 0, {0xC0}), Error(0xCB));
  EXPECT_EQ(Send(sim::ipmi::NetFnStorage, sim::ipmi::CmdWriteFruData, {1, 0}), Error(0xC7));
  EXPECT_EQ(Bmc.ReadFru(1, 0, 5), (Bytes{0, 1, 0xA0, 0xA1, 4}));
  EXPECT_EQ(Bmc.ReadFru(1, 38, 10), (Bytes{38, 0xB0}));
}

TEST_F(SimBmc, OtherCommandsAreAnsweredAndRecorded) {
  EXPECT_EQ(Send(sim::ipmi::NetFnChassis, sim::ipmi::CmdSetPowerRestorePolicy, {3}),
            (Reply{EFI_SUCCESS, {7}}));
  EXPECT_EQ(Send(sim::ipmi::NetFnOem, sim::ipmi::CmdOemAdapterWait, {1}), (Reply{EFI_SUCCESS, {}}));
  EXPECT_EQ(Send(sim::ipmi::NetFnOem, sim::ipmi::CmdOemSystemUuid, {}), (Reply{EFI_SUCCESS, {}}));
  EXPECT_EQ(Send(sim::ipmi::NetFnOem, 0x77, {}), Error(0xC1));
  EXPECT_EQ(Send(0x06, 0x01, {}), Error(0xC1));
  EXPECT_EQ(Bmc.Requests(sim::ipmi::NetFnOem, sim::ipmi::CmdOemAdapterWait).size(), 1u);
  EXPECT_EQ(Bmc.Requests(sim::ipmi::NetFnOem, sim::ipmi::CmdOemAdapterWait)[0].Data, Bytes{1});
}

TEST_F(SimBmc, InjectionsApplyInOrderForTheirCounts) {
  sim::RequestMatch Fru1Offset8;
  Fru1Offset8.FruId = 1;
  Fru1Offset8.Offset = 8;
  Bmc.InjectCompletion(0x81, 2, Fru1Offset8);
  Bmc.InjectStatus(EFI_TIMEOUT, 1);
  sim::RequestMatch AnyOem;
  AnyOem.NetFn = sim::ipmi::NetFnOem;
  Bmc.InjectCompletion(0xC0, -1, AnyOem);

  EXPECT_EQ(Read(1, 8, 1), Error(0x81));
  EXPECT_EQ(Write(1, 8, {0x55}), Error(0x81)); // an injected answer leaves the FRU alone
  EXPECT_EQ(Bmc.ReadFru(1, 8, 1), Bytes{8});
  EXPECT_EQ(Read(1, 8, 1), (Reply{EFI_TIMEOUT, {}})); // the busy answers are used up
  EXPECT_EQ(Read(1, 8, 1), (Reply{EFI_SUCCESS, {1, 8}}));
  for (int I = 0; I < 3; ++I) {
    EXPECT_EQ(Send(sim::ipmi::NetFnOem, sim::ipmi::CmdOemSystemUuid, {}), Error(0xC0));
  }
  EXPECT_EQ(Bmc.Trace()[2].Status, EFI_TIMEOUT);
}

TEST_F(SimBmc, FaultyFruAnswersDisagreeWithTheirCountByte) {
  Bmc.InjectFruAnswerFault(sim::FruAnswerFault::ShorterThanCount);
  Bmc.InjectFruAnswerFault(sim::FruAnswerFault::LongerThanCount);
  Bmc.InjectFruAnswerFault(sim::FruAnswerFault::CountAboveRequest);
  EXPECT_EQ(Write(1, 20, {0x99}), (Reply{EFI_SUCCESS, {1}})) << "a write has no count to get wrong";
  EXPECT_EQ(Read(1, 4, 4), (Reply{EFI_SUCCESS, {4, 4, 5}}));
  EXPECT_EQ(Read(1, 4, 4), (Reply{EFI_SUCCESS, {2, 4, 5, 6, 7}}));
  EXPECT_EQ(Read(1, 4, 4), (Reply{EFI_SUCCESS, {5, 4, 5, 6, 7}}));
  EXPECT_EQ(Read(1, 4, 4), (Reply{EFI_SUCCESS, {4, 4, 5, 6, 7}}));
}

TEST_F(SimBmc, MisbehavioursAimAtARequestNumberOrTheNthMatch) {
  sim::RequestMatch Third;
  Third.Number = 3;
  Bmc.InjectCompletion(0xC0, -1, Third);
  sim::RequestMatch SecondReadAt4;
  SecondReadAt4.Cmd = sim::ipmi::CmdReadFruData;
  SecondReadAt4.Offset = 4;
  SecondReadAt4.Nth = 2;
  Bmc.InjectCompletion(0x81, 2, SecondReadAt4);

  EXPECT_EQ(Read(1, 4, 1), (Reply{EFI_SUCCESS, {1, 4}})); // 1: the first read at 4
  EXPECT_EQ(Read(1, 5, 1), (Reply{EFI_SUCCESS, {1, 5}})); // 2
  EXPECT_EQ(Read(1, 4, 1), Error(0xC0));                  // 3: by number, before the match
  EXPECT_EQ(Read(1, 4, 1), Error(0x81));                  // 4: the busy answers begin
  EXPECT_EQ(Read(1, 4, 1), Error(0x81));                  // 5
  EXPECT_EQ(Read(1, 4, 1), (Reply{EFI_SUCCESS, {1, 4}})); // times used up
  EXPECT_EQ(Bmc.RequestsThisBoot(), 6u);
  EXPECT_EQ(Bmc.Trace()[3].Number, 4u);

  Bmc.StartBoot(); // numbers start again: the third request of the new boot fails too
  Read(1, 5, 1);
  Read(1, 5, 1);
  EXPECT_EQ(Read(1, 5, 1), Error(0xC0));
}

TEST_F(SimBmc, UntruthfulAnswers) {
  Bmc.InjectFruAnswerFault(sim::FruAnswerFault::DifferentData);
  EXPECT_EQ(Read(1, 4, 2), (Reply{EFI_SUCCESS, {2, 0xFB, 0xFA}}));
  EXPECT_EQ(Read(1, 4, 2), (Reply{EFI_SUCCESS, {2, 4, 5}}));

  // One byte past a four-byte buffer: the buffer holds four, the size says five.
  Bmc.InjectFruAnswerFault(sim::FruAnswerFault::LongerThanBuffer);
  const Reply Long = Read(1, 4, 3, /*Capacity=*/4);
  EXPECT_EQ(Long.Status, EFI_SUCCESS);
  EXPECT_EQ(Bmc.Trace().back().ResponseSize, 5);
  EXPECT_EQ(Bmc.Trace().back().Response, (Bytes{3, 4, 5, 6}));

  Bmc.InjectFruAnswerFault(sim::FruAnswerFault::WriteNotStored);
  EXPECT_EQ(Read(1, 9, 1), (Reply{EFI_SUCCESS, {1, 9}})) << "a read is not a write";
  EXPECT_EQ(Write(1, 9, {0x77, 0x78}), (Reply{EFI_SUCCESS, {2}}));
  EXPECT_EQ(Bmc.ReadFru(1, 9, 2), (Bytes{9, 10}));
  EXPECT_EQ(Write(1, 9, {0x77}), (Reply{EFI_SUCCESS, {1}}));
  EXPECT_EQ(Bmc.ReadFru(1, 9, 1), Bytes{0x77});
}

TEST_F(SimBmc, RequestsCostVirtualTimeUpToAHang) {
  Bmc.SetRequestCost(100);
  sim::RequestMatch Writes;
  Writes.Cmd = sim::ipmi::CmdWriteFruData;
  Bmc.InjectDelay(5000, 1, Writes);
  Bmc.InjectStatus(EFI_TIMEOUT, 1, Writes); // a transport that times out: a delay and a status
  Read(1, 0, 1);
  EXPECT_EQ(Clock.Now(), 100u);
  EXPECT_EQ(Write(1, 0, {1}), (Reply{EFI_TIMEOUT, {}}));
  EXPECT_EQ(Clock.Now(), 5200u);

  Clock.SetWatchdog(6000);
  Bmc.SetRequestCost(1000);
  EXPECT_THROW(Read(1, 0, 1), sim::SimulatedHang);
  EXPECT_EQ(Bmc.Trace().back().Status, EFI_TIMEOUT) << "the request the boot hung in";
  EXPECT_EQ(Bmc.Trace().back().Number, 3u);
}

TEST_F(SimBmc, BmcWritesBetweenTwoRequests) {
  sim::RequestMatch SecondReadAt8;
  SecondReadAt8.Cmd = sim::ipmi::CmdReadFruData;
  SecondReadAt8.Offset = 8;
  SecondReadAt8.Nth = 2;
  Bmc.ScheduleFruWriteBefore(SecondReadAt8, 1, 8, {0xAA, 0xBB});
  EXPECT_EQ(Read(1, 8, 2), (Reply{EFI_SUCCESS, {2, 8, 9}}));
  EXPECT_EQ(Read(1, 20, 1), (Reply{EFI_SUCCESS, {1, 20}}));
  EXPECT_EQ(Read(1, 8, 2), (Reply{EFI_SUCCESS, {2, 0xAA, 0xBB}}));
}

// The lock bytes of a header at 0: LockTurn 28, BmcLockFlag 29, HostLockFlag 30.
TEST_F(SimBmc, LockReactionsFollowTheHost) {
  struct Case {
    const char* What;
    sim::LockReaction Reaction;
    Bytes Before;     // lock bytes before the host asks
    Bytes AfterHost;  // one request after the host wrote its flag
    Bytes AfterReply; // one request later still
  } const Cases[] = {
      {"hands the turn back", sim::LockReaction::HandTurnBack, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}},
      {"yields when asked", sim::LockReaction::YieldWhenAsked, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}},
      {"takes it while the host holds it",
       sim::LockReaction::TakeWhileHostHolds,
       {0, 0, 0},
       {0, 0, 1},
       {0, 1, 1}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    sim::VirtualClock LocalClock;
    sim::Bmc Local(LocalClock);
    Local.AddFruDevice(1, 40);
    Local.ReactToLock(1, 0, C.Reaction, /*AfterRequests=*/1);
    EXPECT_EQ(Local.ReadFru(1, 28, 3), C.Before);
    UINT8 Response[4];
    UINT8 Size = 1;
    UINT8 HostFlag[] = {1, 30, 0, 1};
    Local.Send(sim::ipmi::NetFnStorage, 0, sim::ipmi::CmdWriteFruData, HostFlag, 4, Response,
               &Size);
    UINT8 ReadTurn[] = {1, 28, 0, 1};
    Size = 2;
    Local.Send(sim::ipmi::NetFnStorage, 0, sim::ipmi::CmdReadFruData, ReadTurn, 4, Response, &Size);
    EXPECT_EQ(Local.ReadFru(1, 28, 3), C.AfterHost) << "it waits one request";
    Size = 2;
    Local.Send(sim::ipmi::NetFnStorage, 0, sim::ipmi::CmdReadFruData, ReadTurn, 4, Response, &Size);
    EXPECT_EQ(Local.ReadFru(1, 28, 3), C.AfterReply);
    EXPECT_EQ(Response[1], C.AfterReply[0]) << "the host's read sees it";
  }
}

TEST_F(SimBmc, ScheduledWritesLandAsVirtualTimeReachesThem) {
  const UINT16 Header = 8;
  Bmc.HoldMailboxLock(1, Header, 1000);
  Bmc.ScheduleFruWrite(1, Header + 28, 0, 500); // the BMC yields the turn first
  EXPECT_EQ(Read(1, Header + 28, 2), (Reply{EFI_SUCCESS, {2, 1, 1}}));

  Clock.Advance(500);
  EXPECT_EQ(Read(1, Header + 28, 2), (Reply{EFI_SUCCESS, {2, 0, 1}}));
  Clock.Advance(499);
  EXPECT_EQ(Bmc.ReadFru(1, Header + 29, 1), Bytes{1});
  Clock.Advance(1);
  EXPECT_EQ(Bmc.ReadFru(1, Header + 29, 1), Bytes{0}); // seen before any request applies it
  EXPECT_EQ(Read(1, Header + 28, 2), (Reply{EFI_SUCCESS, {2, 0, 0}}));
  EXPECT_EQ(Bmc.Trace().back().Time, 1000u);
}

TEST_F(SimBmc, LockHeldForeverNeverLetsGo) {
  Bmc.HoldMailboxLock(1, 0, UINT64_MAX);
  Clock.Advance(3000ull * 1000 * 1000);
  EXPECT_EQ(Read(1, 28, 2), (Reply{EFI_SUCCESS, {2, 1, 1}}));
}

} // namespace
