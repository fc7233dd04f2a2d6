// The stand-in transport's KCS state machine and IPMI framing against a scripted KCS device.
#include <gtest/gtest.h>

#include "firmware/common/ipmi_kcs.h"
#include "tests/firmware/kcs_device_model.h"

namespace {

using fwtest::KcsDeviceModel;

constexpr KcsLimits QuickLimits = {10, 50, 200};

struct Exchange {
  EFI_STATUS Status;
  std::vector<uint8_t> Response;
};

Exchange Transact(KcsDeviceModel& Bmc, const std::vector<uint8_t>& Request, UINT16 Capacity = 300) {
  std::vector<uint8_t> Response(Capacity);
  UINT16 Size = 0;
  const KcsPorts Ports = Bmc.Ports();
  const EFI_STATUS Status =
      KcsTransact(Ports, QuickLimits, Request.data(), static_cast<UINT16>(Request.size()),
                  Response.data(), Capacity, &Size);
  Response.resize(std::min<size_t>(Size, Capacity));
  return {Status, Response};
}

TEST(KcsTransact, CarriesRequestAndResponseOfEveryLength) {
  for (size_t Length : {2u, 3u, 6u, 21u}) {
    KcsDeviceModel Bmc;
    std::vector<uint8_t> Request;
    for (size_t I = 0; I < Length; ++I) {
      Request.push_back(static_cast<uint8_t>(0x28 + I));
    }
    Bmc.Handler = [](const std::vector<uint8_t>& In) {
      std::vector<uint8_t> Out = {static_cast<uint8_t>(In[0] + 4), In[1], 0x00};
      for (size_t I = In.size(); I > 0; --I) {
        Out.push_back(In[I - 1]);
      }
      return Out;
    };
    const Exchange E = Transact(Bmc, Request);
    ASSERT_EQ(E.Status, EFI_SUCCESS) << Length;
    ASSERT_EQ(Bmc.Requests.size(), 1u);
    EXPECT_EQ(Bmc.Requests[0], Request);
    ASSERT_EQ(E.Response.size(), Length + 3);
    EXPECT_EQ(E.Response[3], Request.back());
    EXPECT_EQ(Bmc.State(), KcsIdle);
    EXPECT_EQ(Bmc.DelayMicroseconds, 0u) << "an interface that is ready is never waited for";
  }
}

TEST(KcsTransact, WaitsOutABusyInputBufferWithDelaysBetweenPolls) {
  KcsDeviceModel Bmc;
  Bmc.IbfBusyReads = 3;
  const Exchange E = Transact(Bmc, {0x18, 0x01});
  ASSERT_EQ(E.Status, EFI_SUCCESS);
  EXPECT_EQ(E.Response, (std::vector<uint8_t>{0x18, 0x01}));
  EXPECT_GT(Bmc.DelayMicroseconds, 0u);
  EXPECT_EQ(Bmc.DelayMicroseconds % QuickLimits.PollDelayMicroseconds, 0u);
}

// A BMC that stops taking bytes at any step: the transaction gives up within its poll budget
// instead of hanging the boot.
TEST(KcsTransact, StuckInputBufferTimesOutAtEveryStep) {
  for (int After : {0, 1, 2, 3, 4, 6}) {
    KcsDeviceModel Bmc;
    Bmc.StuckAfterWrites = After;
    const Exchange E = Transact(Bmc, {0x28, 0x11, 0x01, 0x00});
    EXPECT_EQ(E.Status, EFI_TIMEOUT) << "stuck after " << After << " writes";
    // The sixth write is the request's last byte: only then does the BMC see the request.
    EXPECT_EQ(Bmc.Requests.size(), After >= 6 ? 1u : 0u);
    // The transaction and the abort that follows it each wait at most a few budgets.
    EXPECT_LE(Bmc.StatusReads, 8 * static_cast<int>(QuickLimits.PollsPerWait));
  }
}

// A BMC behind the interface answers late: IBF stays set after the request's last byte until the
// answer comes. Within the answer wait that is no failure at all, however much longer than any
// other step it takes.
TEST(KcsTransact, LateAnswerIsWaitedForAndReadWhole) {
  const int Wait = QuickLimits.PollsPerWait;
  const int Polls = QuickLimits.PollsPerAnswer;
  for (int After : {1, Wait + 1, Polls - 1}) {
    KcsDeviceModel Bmc;
    Bmc.AnswerAfterPolls = After;
    Bmc.Handler = [](const std::vector<uint8_t>& In) {
      return std::vector<uint8_t>{static_cast<uint8_t>(In[0] + 4), In[1], 0x00, 0x51, 0x52};
    };
    const Exchange E = Transact(Bmc, {0x28, 0x11, 0x01, 0x00, 0x02, 0x02});
    ASSERT_EQ(E.Status, EFI_SUCCESS) << "answer after " << After << " polls";
    EXPECT_EQ(E.Response, (std::vector<uint8_t>{0x2C, 0x11, 0x00, 0x51, 0x52}));
    EXPECT_EQ(Bmc.IgnoredWrites, 0) << "nothing is written while the BMC works";
    EXPECT_EQ(Bmc.Aborts, 0);
    EXPECT_EQ(Bmc.DelayMicroseconds, uint64_t(After) * QuickLimits.PollDelayMicroseconds);
    EXPECT_EQ(Bmc.State(), KcsIdle);
  }
}

// An answer later than the wait: the transaction times out without writing into the busy
// interface, and when the stale answer does come, the next transaction gets its own answer, never
// the stale one.
TEST(KcsTransact, AnswerPastTheWaitTimesOutAndNeverReachesTheNextRequest) {
  const int Polls = QuickLimits.PollsPerAnswer;
  const int Wait = QuickLimits.PollsPerWait;
  for (int After : {Polls + 1, Polls + Wait + 1, Polls + 2 * Wait + 1, Polls + 5 * Wait}) {
    KcsDeviceModel Bmc;
    Bmc.AnswerAfterPolls = After;
    Bmc.Handler = [](const std::vector<uint8_t>& In) {
      return std::vector<uint8_t>{static_cast<uint8_t>(In[0] + 4), In[1], 0x00, In.back()};
    };
    EXPECT_EQ(Transact(Bmc, {0x18, 0x01, 0xA1}).Status, EFI_TIMEOUT) << After;
    EXPECT_EQ(Bmc.IgnoredWrites, 0) << "no write into an interface that has not taken the last";
    Bmc.AnswerAfterPolls.reset();
    Exchange Next = Transact(Bmc, {0x18, 0x01, 0xB2});
    for (int Try = 0; Try < 3 && Next.Status == EFI_TIMEOUT; ++Try) {
      Next = Transact(Bmc, {0x18, 0x01, 0xB2}); // the stale answer is still on its way
    }
    ASSERT_EQ(Next.Status, EFI_SUCCESS) << After;
    EXPECT_EQ(Next.Response, (std::vector<uint8_t>{0x1C, 0x01, 0x00, 0xB2})) << After;
    EXPECT_EQ(Bmc.State(), KcsIdle);
  }
}

TEST(KcsTransact, ABmcThatNeverAnswersCostsABoundedWait) {
  KcsDeviceModel Bmc;
  Bmc.AnswerAfterPolls = 1 << 30;
  EXPECT_EQ(Transact(Bmc, {0x18, 0x01}).Status, EFI_TIMEOUT);
  EXPECT_EQ(Bmc.Requests.size(), 1u);
  // The answer wait, then the abort's wait for the interface: nothing more.
  EXPECT_LE(Bmc.StatusReads,
            static_cast<int>(QuickLimits.PollsPerAnswer + 2 * QuickLimits.PollsPerWait));
}

TEST(KcsTransact, ErrorStateInTheWritePhaseIsAbortedAndTheRequestSentAgain) {
  KcsDeviceModel Bmc;
  Bmc.ErrorAtDataByte = 1;
  const Exchange E = Transact(Bmc, {0x28, 0x11, 0x01, 0x00, 0x02, 0x10});
  ASSERT_EQ(E.Status, EFI_SUCCESS);
  EXPECT_EQ(Bmc.Aborts, 1);
  ASSERT_EQ(Bmc.Requests.size(), 1u) << "only the second, whole request reaches the BMC";
  EXPECT_EQ(Bmc.Requests[0].size(), 6u);
}

TEST(KcsTransact, AnInterfaceThatKeepsFailingGivesDeviceErrorAfterTwoAttempts) {
  KcsDeviceModel Bmc;
  Bmc.ErrorAtDataByte = 1;
  Bmc.ErrorEveryTime = true;
  const Exchange E = Transact(Bmc, {0x28, 0x11, 0x01, 0x00, 0x02, 0x10});
  EXPECT_EQ(E.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Bmc.Aborts, 2);
  EXPECT_TRUE(Bmc.Requests.empty());
  EXPECT_EQ(Bmc.State(), KcsIdle) << "left idle for the next caller";
}

TEST(KcsTransact, NoInterfaceAnswersDeviceErrorAtOnce) {
  KcsDeviceModel Bmc;
  Bmc.Absent = true;
  const Exchange E = Transact(Bmc, {0x18, 0x01});
  EXPECT_EQ(E.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Bmc.DelayMicroseconds, 0u);
}

TEST(KcsTransact, ResponseLongerThanTheBufferKeepsItsStartAndLeavesTheInterfaceIdle) {
  KcsDeviceModel Bmc;
  Bmc.Handler = [](const std::vector<uint8_t>&) {
    std::vector<uint8_t> Out(40);
    for (size_t I = 0; I < Out.size(); ++I) {
      Out[I] = static_cast<uint8_t>(I);
    }
    return Out;
  };
  const Exchange E = Transact(Bmc, {0x18, 0x01}, 8);
  EXPECT_EQ(E.Status, EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(E.Response, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Bmc.State(), KcsIdle);
  Bmc.Handler = [](const std::vector<uint8_t>& In) { return In; };
  EXPECT_EQ(Transact(Bmc, {0x18, 0x02}).Status, EFI_SUCCESS) << "the next transaction works";
}

TEST(KcsTransact, ABmcThatNeverStopsSendingIsCutOff) {
  KcsDeviceModel Bmc;
  Bmc.Handler = [](const std::vector<uint8_t>&) { return std::vector<uint8_t>(1000, 0xAB); };
  const Exchange E = Transact(Bmc, {0x18, 0x01});
  EXPECT_EQ(E.Status, EFI_DEVICE_ERROR);
  EXPECT_GE(Bmc.Aborts, 1);
}

TEST(KcsTransact, MissingClosingByteIsNoFailure) {
  KcsDeviceModel Bmc;
  Bmc.NoClosingObf = true;
  EXPECT_EQ(Transact(Bmc, {0x18, 0x01}).Status, EFI_SUCCESS);
}

TEST(KcsTransact, RefusesRequestsWithoutNetFnAndCommand) {
  KcsDeviceModel Bmc;
  EXPECT_EQ(Transact(Bmc, {0x18}).Status, EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Bmc.Requests.empty());
}

// IPMI framing and the completion-code rules of IpmiTransportProtocol.
struct IpmiCall {
  EFI_STATUS Status;
  std::vector<uint8_t> Response;
};

IpmiCall Send(KcsDeviceModel& Bmc, UINT8 NetFn, UINT8 Cmd, std::vector<uint8_t> Data,
              UINT8 Capacity) {
  std::vector<uint8_t> Response(Capacity == 0 ? 1 : Capacity, 0xEE);
  UINT8 Size = Capacity;
  const EFI_STATUS Status = IpmiKcsSend(Bmc.Ports(), QuickLimits, NetFn, 0, Cmd, Data.data(),
                                        static_cast<UINT8>(Data.size()), Response.data(), &Size);
  Response.resize(Size);
  return {Status, Response};
}

TEST(IpmiKcsSend, FramesTheRequestAndReturnsTheBytesAfterTheCompletionCode) {
  KcsDeviceModel Bmc;
  Bmc.Handler = [](const std::vector<uint8_t>&) {
    return std::vector<uint8_t>{0x2C, 0x11, 0x00, 0x03, 0xAA, 0xBB, 0xCC};
  };
  const IpmiCall C = Send(Bmc, 0x0A, 0x11, {0x01, 0x00, 0x02, 0x03}, 4);
  EXPECT_EQ(C.Status, EFI_SUCCESS);
  EXPECT_EQ(C.Response, (std::vector<uint8_t>{0x03, 0xAA, 0xBB, 0xCC}));
  ASSERT_EQ(Bmc.Requests.size(), 1u);
  EXPECT_EQ(Bmc.Requests[0], (std::vector<uint8_t>{0x28, 0x11, 0x01, 0x00, 0x02, 0x03}));
}

TEST(IpmiKcsSend, NonzeroCompletionCodeIsDeviceErrorWithTheCodeInByteZero) {
  for (uint8_t Code : {0x81, 0xC1, 0xCB, 0xCC, 0xFF}) {
    KcsDeviceModel Bmc;
    Bmc.Handler = [Code](const std::vector<uint8_t>&) {
      return std::vector<uint8_t>{0x2C, 0x12, Code};
    };
    const IpmiCall C = Send(Bmc, 0x0A, 0x12, {0x01, 0x00, 0x02, 0x55}, 1);
    EXPECT_EQ(C.Status, EFI_DEVICE_ERROR) << int(Code);
    EXPECT_EQ(C.Response, std::vector<uint8_t>{Code});
  }
}

TEST(IpmiKcsSend, RefusesAnswersThatDoNotBelongToTheRequest) {
  const std::vector<std::vector<uint8_t>> Answers = {
      {0x2C, 0x11},             // no completion code
      {0x1C, 0x11, 0x00, 0x01}, // another NetFn
      {0x2C, 0x12, 0x00, 0x01}, // another command
  };
  for (const auto& Answer : Answers) {
    KcsDeviceModel Bmc;
    Bmc.Handler = [Answer](const std::vector<uint8_t>&) { return Answer; };
    EXPECT_EQ(Send(Bmc, 0x0A, 0x11, {0x01, 0x00, 0x00, 0x01}, 2).Status, EFI_PROTOCOL_ERROR);
  }
}

TEST(IpmiKcsSend, MoreDataThanTheCallerCanHoldIsCutAndSaid) {
  KcsDeviceModel Bmc;
  Bmc.Handler = [](const std::vector<uint8_t>&) {
    return std::vector<uint8_t>{0x2C, 0x11, 0x00, 0x02, 0x10, 0x20};
  };
  const IpmiCall C = Send(Bmc, 0x0A, 0x11, {0x01, 0x00, 0x00, 0x02}, 2);
  EXPECT_EQ(C.Status, EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(C.Response, (std::vector<uint8_t>{0x02, 0x10}));
}

TEST(IpmiKcsSend, OversizedRequestIsRefusedBeforeAnythingIsSent) {
  KcsDeviceModel Bmc;
  const IpmiCall C = Send(Bmc, 0x0A, 0x12, std::vector<uint8_t>(IpmiKcsMaxRequestData + 1), 1);
  EXPECT_EQ(C.Status, EFI_BAD_BUFFER_SIZE);
  EXPECT_TRUE(Bmc.Requests.empty());
  EXPECT_EQ(Bmc.StatusReads, 0);
}

// The wait for a BMC that is still starting: Get Device ID until the BMC carries it out.
TEST(IpmiKcsAwaitBmc, AsksUntilTheBmcHasStartedAndNoLonger) {
  struct Case {
    std::vector<uint8_t> Codes; // completion codes of the answers, in order; then 0x00
    uint32_t Tries;
    EFI_STATUS Status;
    size_t Requests;
  };
  const Case Cases[] = {
      {{}, 5, EFI_SUCCESS, 1},
      {{0xD2, 0xD2, 0xC0}, 5, EFI_SUCCESS, 4},
      {{0xD2, 0xD2, 0xD2}, 3, EFI_DEVICE_ERROR, 3}, // still starting after the last try
      {{0xC1}, 5, EFI_DEVICE_ERROR, 1},             // refused: no point asking again
  };
  for (const Case& C : Cases) {
    KcsDeviceModel Bmc;
    size_t Answered = 0;
    Bmc.Handler = [&C, &Answered](const std::vector<uint8_t>& In) {
      const uint8_t Code = Answered < C.Codes.size() ? C.Codes[Answered] : 0x00;
      ++Answered;
      std::vector<uint8_t> Out = {static_cast<uint8_t>(In[0] + 4),
                                  In[1],
                                  Code,
                                  0x20,
                                  0x81,
                                  0x01,
                                  0x02,
                                  0x02,
                                  0xBF,
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00};
      Out.resize(Code == 0 ? Out.size() : 3); // a failing answer carries no data
      return Out;
    };
    EXPECT_EQ(IpmiKcsAwaitBmc(Bmc.Ports(), QuickLimits, C.Tries, 100000), C.Status);
    ASSERT_EQ(Bmc.Requests.size(), C.Requests);
    EXPECT_EQ(Bmc.Requests.back(), (std::vector<uint8_t>{0x18, 0x01})) << "Get Device ID";
    const size_t Pauses = C.Status == EFI_SUCCESS ? C.Requests - 1 : C.Codes[0] == 0xC1 ? 0 : 3;
    EXPECT_EQ(Bmc.DelayMicroseconds, Pauses * 100000u);
  }
}

} // namespace
