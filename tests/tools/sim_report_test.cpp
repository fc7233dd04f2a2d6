// bladecfg-sim runs: what the report says about each command, the variables, the BMC's traffic and
// the time, for scenarios that exercise the platform run, and the JSON form of the same report.
#include <gtest/gtest.h>

#include "tools/report.h"
#include "tools/scenario.h"
#include "tools/sim_run.h"

namespace {

tools::RunOutcome RunText(const std::string& Text) {
  return tools::RunScenario(
      tools::ParseScenario(tools::ParseJsonText(Text, "test.json"), "test.json", ""));
}

// A platform mailbox in FRU device 1 holding Commands (a JSON array of commands), then Extra.
std::string Platform(const std::string& Commands, const std::string& Extra = "") {
  return R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [)" + Commands + "]}}]" + Extra + "}";
}

std::string Numbered(size_t Count) {
  std::string Out = "[";
  for (size_t I = 0; I < Count; ++I) {
    Out += std::string(I ? "," : "") + R"({"id": )" + std::to_string(I + 1) +
           R"(, "text": "SET B1 OEMTAL_IOV1_BUS1=ENABLE"})";
  }
  return Out + "]";
}

std::vector<std::string> Meanings(const tools::RunOutcome& R) {
  std::vector<std::string> Out;
  for (const tools::CommandOutcome& C : R.Mailboxes.at(0).Commands) {
    Out.push_back(C.Meaning);
  }
  return Out;
}

bool Changed(const tools::RunOutcome& R, const std::string& Variable, const std::string& Field,
             const std::string& After) {
  for (const tools::FieldChange& C : R.Changes) {
    if (C.Variable == Variable && C.Field == Field) {
      return C.After == After;
    }
  }
  return false;
}

TEST(SimReport, DefaultBladeShowsEveryKindOfAnswer) {
  const tools::RunOutcome R = tools::RunScenario(tools::DefaultScenario());
  ASSERT_TRUE(R.Entry.Returned);
  EXPECT_EQ(R.Entry.Status, EFI_SUCCESS);
  ASSERT_TRUE(R.Completion.has_value());
  ASSERT_EQ(R.Mailboxes.size(), 3u); // the platform's and two adapters'
  const tools::MailboxOutcome& M = R.Mailboxes[0];
  EXPECT_TRUE(M.Platform);
  const std::vector<std::string> Want = {"Done",
                                         "Done",
                                         "Done",
                                         "Done",
                                         "Done",
                                         "Refused, retried 2 times",
                                         "no record (not a platform command)",
                                         "Done",
                                         "BadKeyword, retried 2 times",
                                         "Done",
                                         "Done",
                                         "Done"};
  EXPECT_EQ(Meanings(R), Want);
  EXPECT_EQ(M.Commands[5].Record->Status, 0xF502u);
  EXPECT_EQ(M.Commands[5].Executions, 3u);
  EXPECT_EQ(M.Commands[6].Executions, 1u);
  // The run keeps the lock; the completion signal lets it go.
  EXPECT_EQ(M.LockAfterEntry[2], 1);
  EXPECT_EQ(M.LockAtEnd[2], 0);
  EXPECT_TRUE(Changed(R, "TalBladeData", "DeviceEnableMask", "0x0000000D (LOM1 MEZ1)"));
  EXPECT_TRUE(Changed(R, "TalBladeData", "Serial", "\"SN4711BLADE\""));
  EXPECT_TRUE(Changed(R, "SystemSetup", "Iov1Bus1", "1"));
  EXPECT_TRUE(Changed(R, "CLPFailureFlag", "Reported", "1"));
  ASSERT_EQ(R.StatusCodes.size(), 1u); // one failure report per boot
  EXPECT_TRUE(R.Resets.empty());
  EXPECT_EQ(R.Ipmi.Requests, R.Trace.size());
  EXPECT_EQ(R.Ipmi.Requests, R.Ipmi.FruReads + R.Ipmi.FruWrites + R.Ipmi.Other);
  size_t PlatformWrites = 0;
  for (const sim::IpmiRequest& Q : R.Trace) {
    PlatformWrites += Q.NetFn == 0x0A && Q.Cmd == 0x12 && Q.Data.at(0) == 1;
  }
  EXPECT_EQ(PlatformWrites, 14u); // 2 lock bytes, 11 records, the release
  EXPECT_TRUE(R.Problems.empty());
}

TEST(SimReport, BusyAnswersAreCountedAsRetries) {
  const tools::RunOutcome R = RunText(
      Platform(Numbered(2), R"(, "bmc": {"busy": [{"fru": 1, "request": "write", "times": 3}]})"));
  EXPECT_EQ(R.Ipmi.BusyRetried, 3u);
  EXPECT_EQ(R.Ipmi.Failed, 0u);
  EXPECT_EQ(Meanings(R), (std::vector<std::string>{"Done", "Done"}));
  EXPECT_EQ(R.Stalls, 3u); // a short wait before each resend
}

TEST(SimReport, LockHeldByTheBmcCostsVirtualTime) {
  const tools::RunOutcome R =
      RunText(Platform(Numbered(1), R"(, "bmc": {"lock": [{"fru": 1, "held_until_ms": 1200}]})"));
  EXPECT_EQ(Meanings(R), std::vector<std::string>{"Done"});
  // Polls at 0, 0.5 and 1.0 s find the BMC holding it; the one at 1.5 s gets in.
  EXPECT_EQ(R.VirtualMicroseconds, 1500000u);
  EXPECT_EQ(R.Mailboxes[0].LockBefore[1], 1);
}

TEST(SimReport, LockNeverGivenUpRunsNothing) {
  const tools::RunOutcome R =
      RunText(Platform(Numbered(2), R"(, "bmc": {"lock": [{"fru": 1, "held_forever": true}]})"));
  EXPECT_EQ(Meanings(R), (std::vector<std::string>{"not run", "not run"}));
  EXPECT_EQ(R.VirtualMicroseconds, 40u * 500000);
  EXPECT_EQ(R.Mailboxes[0].LockAfterEntry[2], 0); // the host gave up its claim
}

TEST(SimReport, ThirtyThreeCommandsLeaveTheOverflowMarker) {
  const tools::RunOutcome R = RunText(Platform(Numbered(33)));
  const auto& Commands = R.Mailboxes.at(0).Commands;
  ASSERT_EQ(Commands.size(), 33u);
  EXPECT_EQ(Commands[0].Meaning, "Done (its record since covered by the OverflowMarker)");
  EXPECT_EQ(Commands[31].Meaning, "Done");
  EXPECT_EQ(Commands[32].Meaning,
            "not run: past the 32 commands of a list (OverflowMarker written)");
  EXPECT_EQ(R.Mailboxes[0].OverflowLists, std::vector<UINT8>{0});
}

TEST(SimReport, ResetEndsTheBootBeforeTheCompletionSignal) {
  const tools::RunOutcome R =
      RunText(Platform(R"([{"id": 1, "text": "SET B1 OEMTAL_NUMA=ENABLE"}])"));
  EXPECT_TRUE(R.Entry.Reset);
  EXPECT_FALSE(R.Completion.has_value());
  EXPECT_EQ(R.Resets.size(), 1u);
  EXPECT_TRUE(Changed(R, "SystemSetup", "Numa", "1"));
  // Already enabled: nothing to change, so no reset.
  const tools::RunOutcome Same =
      RunText(Platform(R"([{"id": 1, "text": "SET B1 OEMTAL_NUMA=ENABLE"}])",
                       R"(, "variables": {"SystemSetup": {"Numa": 1}})"));
  EXPECT_TRUE(Same.Resets.empty());
  EXPECT_TRUE(Same.Changes.empty());
}

TEST(SimReport, FailedRecordWriteCutsTheRunShort) {
  const tools::RunOutcome R = RunText(Platform(
      Numbered(3),
      R"(, "bmc": {"completion_codes": [{"code": "0xC0", "request": "write", "times": 100}]})"));
  EXPECT_EQ(R.Ipmi.BusyRetried, 0u);
  EXPECT_GT(R.Ipmi.Failed, 0u);
  const std::vector<std::string> M = Meanings(R);
  EXPECT_EQ(M[2], "not run");
}

TEST(SimReport, ItemThirtyMovesThePlatformMailboxToFruTwo) {
  const tools::RunOutcome R = RunText(R"({"fru_devices": [
      {"id": 1, "mailbox": {"lists": [[{"id": 1, "text": "SET B1 DEFAULT"}]]}},
      {"id": 2, "mailbox": {"header_offset": 768, "lists": [[{"id": 2, "text": "SET B1 DEFAULT"}]]}}],
    "platform": {"info": {"30": 1}}})");
  ASSERT_EQ(R.Mailboxes.size(), 2u);
  EXPECT_FALSE(R.Mailboxes[0].Platform);
  EXPECT_EQ(R.Mailboxes[0].Commands[0].Meaning, "not run");
  EXPECT_TRUE(R.Mailboxes[1].Platform);
  EXPECT_EQ(R.Mailboxes[1].Commands[0].Meaning, "Done");
}

// The default blade's steps: the entry, the six adapter drivers' starts, the completion signal.
TEST(SimReport, StepsShowEachCallsRequestsAndChanges) {
  const tools::RunOutcome R = tools::RunScenario(tools::DefaultScenario());
  ASSERT_EQ(R.Steps.size(), 8u);
  EXPECT_EQ(R.Steps[0].Name, "entry");
  EXPECT_EQ(R.Steps[1].Name, "adapter driver net8086 starts on 04:00.0");
  EXPECT_EQ(R.Steps[7].Name, "completion signal");
  size_t Next = 0;
  size_t Changes = 0;
  for (size_t I = 0; I < R.Steps.size(); ++I) {
    const tools::StepOutcome& Step = R.Steps[I];
    EXPECT_TRUE(Step.Ran);
    EXPECT_EQ(Step.FirstRequest, Next) << Step.Name;
    Next = Step.EndRequest;
    Changes += Step.Changes.size();
    EXPECT_EQ(Step.Arrival.has_value(), I != 0 && I != 7) << Step.Name;
    if (Step.Arrival) {
      EXPECT_EQ(*Step.Arrival, I - 1);
      EXPECT_EQ(R.Arrivals[I - 1].Requests, Step.EndRequest - Step.FirstRequest);
      EXPECT_EQ(R.Arrivals[I - 1].StatusCodes.size(), Step.StatusCodes.size());
    }
  }
  EXPECT_EQ(Next, R.Trace.size());
  EXPECT_GE(Changes, R.Changes.size());
  EXPECT_FALSE(R.Steps[1].Changes.empty()) << "the waiting arrival writes AdapterReadyWait";
  EXPECT_EQ(R.Steps[0].StatusCodes.size(), 1u);
  const tools::StepOutcome& Completion = R.Steps[7];
  const std::string Text = tools::TextReport(R, true);
  const std::string Line = "Step 8, completion signal: returned EFI_SUCCESS; " +
                           std::to_string(Completion.EndRequest - Completion.FirstRequest) +
                           " IPMI requests";
  EXPECT_NE(Text.find(Line), std::string::npos) << Text;
  EXPECT_NE(Text.find("Step 2, adapter driver net8086 starts on 04:00.0: returned EFI_SUCCESS"),
            std::string::npos);
  EXPECT_NE(Text.find("  completion signal:\n    "), std::string::npos);
  const nlohmann::ordered_json J = tools::JsonReport(R, false);
  EXPECT_EQ(J["steps"][7]["requests"]["count"], Completion.EndRequest - Completion.FirstRequest);
  EXPECT_EQ(J["steps"][0]["variables_changed"].size(), R.Steps[0].Changes.size());
  EXPECT_EQ(J["steps"][1]["arrival"]["branch"], "wait");
  EXPECT_FALSE(J["steps"][0].contains("arrival"));
}

// The default blade without its adapters (the completion signal right after the entry). Request
// numbers of its first command: 10 reads its id at 0x0220, 11 to 13 its text from 0x0222 on.
TEST(SimReport, MisbehavingBmcsFromTheScenario) {
  nlohmann::json Twelve = nlohmann::json::parse(tools::DefaultScenarioText());
  for (const char* Key : {"pci", "adapter_drivers", "mp_services", "completion_signal"}) {
    Twelve.erase(Key);
  }
  auto Run = [&](const std::string& Bmc) {
    nlohmann::json J = Twelve;
    J["bmc"] = nlohmann::json::parse(Bmc);
    return RunText(J.dump());
  };
  // The BMC changes the text between the host's id read and its text read.
  tools::RunOutcome R = Run(R"({"writes": [{"fru": 1, "offset": "0x0232", "value": 88,
                                             "before": {"request": "read", "offset": "0x0232"}}]})");
  EXPECT_EQ(Meanings(R)[0], "no record (not a platform command)");
  EXPECT_EQ(R.Mailboxes[0].Commands[0].TextAsRead, "SET BOOTCFGSETTIXG1 OEMTAL_LOM1=ENABLE");
  EXPECT_NE(tools::TextReport(R, false).find("the host read: SET BOOTCFGSETTIXG1"),
            std::string::npos);
  // A transport failure without a completion code on the read of the text's first chunk cuts the
  // pass short.
  R = Run(R"({"transport_failures": [{"status": "EFI_TIMEOUT", "request": "read",
                                        "offset": "0x0222", "nth": 1}]})");
  EXPECT_EQ(R.Trace[10].Status, EFI_TIMEOUT);
  EXPECT_EQ(R.Trace.size(), 11u + 4u) << "the pass stops there; the completion signal follows";
  EXPECT_EQ(Meanings(R)[0], "no record (the pass stopped before writing it)");
  EXPECT_EQ(Meanings(R)[1], "not run");
  // A count byte that lies about the record read back before it is written.
  R = Run(R"({"untruthful": [{"answer": "longer_than_count", "request_number": 14}]})");
  EXPECT_EQ(Meanings(R)[0], "no record (the pass stopped before writing it)");
  // The BMC holds the lock and hands the turn back once the host has asked and yielded it.
  R = Run(R"({"lock": [{"fru": 1, "reaction": "hands_turn_back", "after_requests": 2}]})");
  EXPECT_EQ(Meanings(R)[0], "Done");
  EXPECT_EQ(R.VirtualMicroseconds, 0u);
  EXPECT_EQ(R.Mailboxes[0].LockAtEnd[1], 1) << "the BMC still wants the mailbox";
  // A slow BMC: each request costs a millisecond, one of them five seconds more.
  R = Run(R"({"request_cost_us": 1000, "delays": [{"delay_ms": 5000, "request_number": 3}]})");
  EXPECT_EQ(R.VirtualMicroseconds, R.Trace.size() * 1000 + 5000000u);
}

TEST(SimReport, FailingFirmwareFromTheScenario) {
  const std::string Mailbox = Platform(Numbered(2));
  auto Run = [&](const std::string& Extra) {
    nlohmann::json J = nlohmann::json::parse(Mailbox);
    J.update(nlohmann::json::parse(Extra));
    return RunText(J.dump());
  };
  // No text area: nothing runs, the BMC's lock bytes are not touched.
  tools::RunOutcome R = Run(R"({"platform": {"inputs": {"adapter_ready": true}},
                                "firmware": {"pool_failures": [{"nth": 1}]}})");
  EXPECT_EQ(Meanings(R), (std::vector<std::string>{"not run", "not run"}));
  EXPECT_EQ(R.Mailboxes[0].LockAfterEntry[2], 0);
  // The second read of SystemSetup fails: the first command is done, the pass stops at the second.
  R = Run(R"({"platform": {"inputs": {"adapter_ready": true}},
              "firmware": {"variable_failures": [{"variable": "SystemSetup", "read": 2}]}})");
  EXPECT_EQ(Meanings(R),
            (std::vector<std::string>{"Done", "no record (the pass stopped before writing it)"}));
  // Without the status-code protocol the failure report goes nowhere, and the boot goes on.
  R = Run(R"({"variables": {"TalBladeData": {"ClpFailurePause": 1}},
              "firmware": {"missing_protocols": ["status_code"],
                           "variable_failures": [{"access": 3}]}})");
  EXPECT_TRUE(R.Entry.Returned);
  EXPECT_TRUE(R.StatusCodes.empty());
  EXPECT_TRUE(Changed(R, "CLPFailureFlag", "Reported", "1"));
  // Without the IPMI transport nothing reaches the BMC, at the entry or at an adapter's arrival.
  nlohmann::json Blade = nlohmann::json::parse(tools::DefaultScenarioText());
  Blade["firmware"] = {{"missing_protocols", {"ipmi_transport"}}};
  R = RunText(Blade.dump());
  EXPECT_TRUE(R.Entry.Returned);
  EXPECT_TRUE(R.Trace.empty());
  EXPECT_EQ(R.Steps.size(), 8u);
  EXPECT_EQ(R.Mailboxes[0].Commands[0].Meaning, "not run");
  // Item 30 answers 0 at the entry and 1 at the completion signal: the release looks in FRU 2.
  R = Run(R"({"platform": {"info_sequences": {"30": [0, 1]}}})");
  EXPECT_EQ(Meanings(R)[0], "Done");
  EXPECT_EQ(R.Mailboxes[0].LockAtEnd[2], 1) << "released where it is not";
}

TEST(SimReport, JsonCarriesTheSameReport) {
  const tools::RunOutcome R = tools::RunScenario(tools::DefaultScenario());
  const nlohmann::ordered_json J = nlohmann::ordered_json::parse(tools::JsonReport(R, true).dump());
  EXPECT_EQ(J["entry"]["status"], "EFI_SUCCESS");
  const auto& Commands = J["mailboxes"][0]["commands"];
  ASSERT_EQ(Commands.size(), R.Mailboxes[0].Commands.size());
  for (size_t I = 0; I < Commands.size(); ++I) {
    EXPECT_EQ(Commands[I]["meaning"], R.Mailboxes[0].Commands[I].Meaning);
    EXPECT_EQ(Commands[I]["text"], R.Mailboxes[0].Commands[I].Text);
  }
  EXPECT_EQ(Commands[8]["record"]["status"], "0xFD02");
  EXPECT_TRUE(Commands[6]["record"].is_null());
  EXPECT_EQ(J["ipmi"]["requests"], R.Ipmi.Requests);
  EXPECT_EQ(J["ipmi"]["fru_writes"], R.Ipmi.FruWrites);
  EXPECT_EQ(J["trace"].size(), R.Trace.size());
  EXPECT_EQ(J["variables_changed"].size(), R.Changes.size());
  EXPECT_EQ(J["status_codes"][0]["value"], "0xC000B3A0");
  // The readable report names the same things.
  const std::string Text = tools::TextReport(R, false);
  EXPECT_NE(Text.find("0xF502      Refused, retried 2 times"), std::string::npos) << Text;
  EXPECT_NE(Text.find("TalBladeData.DeviceDisableMask: 0x00000000 -> 0x00000002 (LOM2)"),
            std::string::npos);
  EXPECT_NE(Text.find("IPMI requests: " + std::to_string(R.Ipmi.Requests)), std::string::npos);
}

// "SET B1 OEMTAL_SERIAL=Jos" and a Latin-1 e acute: BMC texts are bytes, and such a text must
// neither stop the JSON report nor come out changed.
TEST(SimReport, TextsThatAreNotAsciiGoIntoTheReportsAsHex) {
  const std::string Hex =
      "53 45 54 20 42 31 20 4F 45 4D 54 41 4C 5F 53 45 52 49 41 4C 3D 4A 6F 73 E9";
  const tools::RunOutcome R = RunText(Platform(R"([{"id": 1, "hex": ")" + Hex + R"("}])"));
  ASSERT_EQ(R.Mailboxes.at(0).Commands.size(), 1u);
  EXPECT_EQ(R.Mailboxes[0].Commands[0].Meaning, "Done");
  EXPECT_TRUE(Changed(R, "TalBladeData", "Serial", "\"Jos\\u00E9\""));

  std::string Dumped;
  ASSERT_NO_THROW(Dumped = tools::JsonReport(R, true).dump(2));
  const nlohmann::ordered_json Command =
      nlohmann::ordered_json::parse(Dumped)["mailboxes"][0]["commands"][0];
  EXPECT_FALSE(Command.contains("text"));
  EXPECT_EQ(Command["hex"], Hex);
  EXPECT_NE(tools::TextReport(R, false).find("[" + Hex + "]"), std::string::npos);
}

} // namespace
