// bladecfg-sim runs with adapters: what the report says about each arrival (its branch, every
// command as read and as sent or why not, records, messages, clock modulation, variables, resets,
// hangs), and the JSON form of the same.
#include <gtest/gtest.h>

#include "tools/report.h"
#include "tools/report_adapters.h"
#include "tools/scenario.h"
#include "tools/sim_run.h"

namespace {

using tools::ArrivalBranch;

tools::RunOutcome RunText(const std::string& Text) {
  return tools::RunScenario(
      tools::ParseScenario(tools::ParseJsonText(Text, "test.json"), "test.json", ""));
}

// A blade with a two-port 0x8086 adapter behind 00:02.0 (slot rows 2 and 3, FRU device 4) whose
// mailbox holds Lists (a JSON array of lists), both ports pending unless BladeFields says
// otherwise, its PCI I/O handles in PciIoOrder when given, and Extra.
std::string TwoPorts(const std::string& Lists, const std::string& Extra,
                     const std::string& BladeFields = R"("PendingMask8086": "0x0C")",
                     const std::string& PciIoOrder = "") {
  return R"({"fru_devices": [
      {"id": 1, "mailbox": {"lists": [[{"id": 1, "text": "SET B1 OEMTAL_IPL1=PCI"}]]}},
      {"id": 4, "mailbox": {"lists": )" +
         Lists + R"(}}],
    "variables": {"TalBladeData": {"ClpFailurePause": 1, )" +
         BladeFields + R"(},
                  "ClpCommandFruIdList": {"FruIds": [4, 0, 0, 0, 0, 0]}},
    "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4,
                         "devices": [{"device": 0, "vendor": "0x8086", "device_id": "0x10FB", "functions": 2}]}])" +
         (PciIoOrder.empty() ? "" : R"(, "pci_io_order": )" + PciIoOrder) + "}" + Extra + "}";
}

const std::string PortLists = R"([[
    {"id": "0x0401", "text": "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
    {"id": "0x0402", "text": "SET NETPORT2 OEMQX_BOOTENABLE=DISABLE"},
    {"id": "0x0403", "text": "SET B1 OEMTAL_SERIAL=ADAPTER9"}],
  [{"id": "0x0411", "text": "SET N1 OEMTAL_BOOTPRIORITY=DISABLE"}]])";

const char* const ReadyNow = R"(,
    "platform": {"inputs": {"adapter_ready": true}},
    "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0", "at_ms": 100}],
                         "answers": [{"text": "Set BootPriority=Disabled", "status_word": "0xF002", "times": 1}]}])";

// The arrivals of the JSON report, from the steps that are adapter drivers' starts.
nlohmann::ordered_json ArrivalsJson(const tools::RunOutcome& R) {
  const nlohmann::ordered_json J =
      nlohmann::ordered_json::parse(tools::JsonReport(R, false).dump());
  nlohmann::ordered_json Arrivals = nlohmann::ordered_json::array();
  for (const auto& Step : J["steps"]) {
    if (Step.contains("arrival")) {
      Arrivals.push_back(Step["arrival"]);
    }
  }
  return Arrivals;
}

std::vector<std::string> Fields(const tools::ArrivalOutcome& A, const std::string& Variable) {
  std::vector<std::string> Out;
  for (const tools::VariableWriteOutcome& W : A.Writes) {
    for (const tools::FieldChange& C : W.Changes) {
      if (W.Variable == Variable) {
        Out.push_back(C.Field + ": " + C.Before + " -> " + C.After);
      }
    }
  }
  return Out;
}

TEST(AdapterReport, RunNowShowsEveryCommandAsReadAndAsSentOrWhyNot) {
  const tools::RunOutcome R = RunText(TwoPorts(PortLists, ReadyNow));
  ASSERT_EQ(R.Arrivals.size(), 1u);
  const tools::ArrivalOutcome& A = R.Arrivals[0];
  EXPECT_EQ(A.Branch, ArrivalBranch::RunNow);
  EXPECT_EQ(A.Row, std::optional<size_t>(2));
  EXPECT_EQ(A.Fru, std::optional<UINT8>(4));
  EXPECT_TRUE(A.Messages.empty());
  EXPECT_TRUE(A.Clock.empty());
  // The arriving port, then the vendor's other pending port through the same Execute.
  ASSERT_EQ(A.Passes.size(), 2u);
  const tools::AdapterPass& P1 = A.Passes[0];
  EXPECT_EQ(*P1.Location, sim::PciAddress(4, 0, 0));
  EXPECT_EQ(P1.Port, std::optional<unsigned>(1));
  EXPECT_EQ(P1.PendingBit, 0x4u);
  EXPECT_TRUE(P1.Released);
  ASSERT_EQ(P1.Commands.size(), 4u);
  EXPECT_EQ(P1.Commands[0].Read, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE");
  EXPECT_EQ(P1.Commands[0].Sent, std::optional<std::string>("SET BootEnable=ENABLE"));
  EXPECT_EQ(P1.Commands[0].Answer->StatusWord, 0x0500u);
  EXPECT_TRUE(P1.Commands[0].RecordWritten);
  EXPECT_EQ(*P1.Commands[0].Record, (mailbox_format::ResultRecordValue{0x0401, 0x0500}));
  EXPECT_FALSE(P1.Commands[1].Sent);
  EXPECT_EQ(P1.Commands[1].NotSent, "for port 2; the adapter served is port 1");
  EXPECT_EQ(P1.Commands[2].NotSent.rfind("a platform setting: the host takes those only in the "
                                         "run after the wait",
                                         0),
            0u);
  EXPECT_EQ(P1.Commands[3].List, 1);
  EXPECT_EQ(P1.Commands[3].Sent, std::optional<std::string>("Set BootPriority=Disabled"));
  EXPECT_EQ(P1.Commands[3].Answer->StatusWord, 0xF002u); // scripted once, and reported
  const tools::AdapterPass& P2 = A.Passes[1];
  EXPECT_EQ(*P2.Location, sim::PciAddress(4, 0, 1));
  EXPECT_EQ(P2.Port, std::optional<unsigned>(2));
  EXPECT_EQ(P2.Commands[0].NotSent, "for port 1; the adapter served is port 2");
  EXPECT_EQ(P2.Commands[1].Sent, std::optional<std::string>("SET BootEnable=PXE"));
  EXPECT_EQ(P2.Commands[3].NotSent, "for port 1; the adapter served is port 2");
  EXPECT_EQ(Fields(A, "TalBladeData"),
            std::vector<std::string>{"PendingMask8086: 0x0000000C -> 0x00000000"});
  ASSERT_EQ(A.StatusCodes.size(), 1u);
  EXPECT_EQ(A.StatusCodes[0].Value, 0xC000B3A0u);
  EXPECT_TRUE(A.Resets.empty());
  EXPECT_TRUE(A.Outcome.Returned);
  // The mailbox summary: each record as the last pass that sent its command left it.
  ASSERT_EQ(R.Mailboxes.size(), 2u);
  EXPECT_EQ(R.Mailboxes[1].Commands[1].Meaning, "done, read in 2 adapter passes");
  EXPECT_EQ(R.Mailboxes[1].Commands[2].Meaning, "no record (sent to no adapter)");
  EXPECT_EQ(R.Mailboxes[1].Commands[3].Meaning, "failed, read in 2 adapter passes");
}

TEST(AdapterReport, WaitShowsMessagesClockModulationAndItsLength) {
  const tools::RunOutcome R = RunText(TwoPorts(PortLists, R"(,
    "platform": {"inputs": {"adapter_ready": [{"at_ms": 0, "high": false}, {"at_ms": 1200, "high": true}],
                            "wait_enable": true}},
    "mp_services": {"processors": 3, "clock_modulation": "0x04"},
    "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.1", "at_ms": 300}]}])"));
  ASSERT_EQ(R.Arrivals.size(), 1u);
  const tools::ArrivalOutcome& A = R.Arrivals[0];
  EXPECT_EQ(A.Branch, ArrivalBranch::Wait);
  EXPECT_EQ(A.Why, "adapter-ready input 0, NparRestoreMask 0, wait-enable input 1");
  // Reads at 0.3 s and 0.8 s find it low, the one at 1.3 s high; the half-second pause follows.
  EXPECT_EQ(*A.WaitBegan, 300000u);
  EXPECT_EQ(*A.WaitEnded, 1800000u);
  EXPECT_EQ(A.Polls, 3u);
  ASSERT_EQ(A.Messages.size(), 2u);
  EXPECT_EQ(A.Messages[0].What, "wait begins");
  EXPECT_EQ(A.Messages[0].Data, (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x43, 0x46}));
  EXPECT_EQ(A.Messages[1].What, "wait ends");
  EXPECT_EQ(A.Messages[1].Data, (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x42, 0x32}));
  ASSERT_EQ(A.Clock.size(), 2u);
  EXPECT_TRUE(A.Clock[0].Throttle);
  EXPECT_EQ(A.Clock[0].Writes,
            (std::vector<std::pair<UINTN, UINT64>>{{0, 0x16}, {1, 0x16}, {2, 0x16}}));
  ASSERT_TRUE(A.Clock[0].Startup.has_value());
  EXPECT_EQ(A.Clock[0].Startup->Ran, (std::vector<UINTN>{1, 2}));
  EXPECT_FALSE(A.Clock[1].Throttle);
  EXPECT_EQ(A.Clock[1].Time, 1800000u);
  EXPECT_EQ(A.Clock[1].Writes, (std::vector<std::pair<UINTN, UINT64>>{{0, 0}, {1, 0}, {2, 0}}));
  // After the wait the platform setting is the host's own; port 2 arrived first.
  ASSERT_EQ(A.Passes.size(), 2u);
  EXPECT_EQ(A.Passes[0].Port, std::optional<unsigned>(2));
  EXPECT_EQ(
      A.Passes[0].Commands[2].NotSent.rfind("a platform setting: the host takes it itself", 0), 0u);
  const std::vector<std::string> Blade = Fields(A, "TalBladeData");
  ASSERT_GE(Blade.size(), 4u);
  EXPECT_EQ(Blade[0], "AdapterReadyWait: 0 -> 1");
  EXPECT_EQ(Blade[1], "AdapterReadyWait: 1 -> 0");
  EXPECT_EQ(Blade[2], "SerialValid: 0 -> 1");
  EXPECT_EQ(Blade[3], "Serial: \"\" -> \"ADAPTER9\"");
  EXPECT_EQ(Blade.back(), "PendingMask8086: 0x0000000C -> 0x00000000");

  const std::string Text = tools::TextReport(R, false);
  EXPECT_NE(Text.find("Adapter arrivals: 1 (1 wait)"), std::string::npos) << Text;
  EXPECT_NE(Text.find("wait: 1.500000 s (3 reads of the adapter-ready input)"), std::string::npos);
  EXPECT_NE(Text.find("slowed down: cpu0 0x16 cpu1 0x16 cpu2 0x16; StartupAllAPs (blocking, all "
                      "APs at once) ran on 2 APs, EFI_SUCCESS"),
            std::string::npos);
}

struct WaitCase {
  const char* Name;
  const char* Extra;
  std::vector<std::string> Messages; // each "what status"
  size_t ClockPhases;
  const char* Note;
};

const WaitCase WaitCases[] = {
    {"wait-begins refused",
     R"(, "bmc": {"wait_messages": [{"message": "begins", "code": "0xC0"}]})",
     {"wait begins EFI_DEVICE_ERROR"},
     0,
     "the wait begins message failed: the arrival ends there, and no command runs"},
    {"wait-ends lost",
     R"(, "bmc": {"wait_messages": [{"message": "ends", "status": "EFI_TIMEOUT"}]})",
     {"wait begins EFI_SUCCESS", "wait ends EFI_TIMEOUT"},
     2,
     "the wait ends message failed: the arrival ends there, and no command runs"},
    {"waiting not enabled",
     R"(, "platform": {"inputs": {"adapter_ready": false, "wait_enable": false}})",
     {"wait begins EFI_SUCCESS", "wait ends EFI_SUCCESS"},
     2,
     "no wait (wait-enable input 0): adapter-ready is still 0, so no command runs"},
    {"no MP services",
     R"(, "mp_services": {"present": false})",
     {"wait begins EFI_SUCCESS", "wait ends EFI_SUCCESS"},
     0,
     "no MP services: no processor is slowed down"},
};

TEST(AdapterReport, WaitsThatRunNoCommand) {
  for (const WaitCase& C : WaitCases) {
    // The adapter-ready input stays low unless the case raises it: only the last case runs.
    std::string Inputs =
        R"(, "platform": {"inputs": {"adapter_ready": false, "adapter_ready_at_ms": 700, "wait_enable": true}})";
    if (std::string(C.Extra).find("\"platform\"") != std::string::npos) {
      Inputs.clear();
    }
    const tools::RunOutcome R = RunText(TwoPorts(
        PortLists, std::string(C.Extra) + Inputs +
                       R"(, "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0"}]}])"));
    ASSERT_EQ(R.Arrivals.size(), 1u) << C.Name;
    const tools::ArrivalOutcome& A = R.Arrivals[0];
    EXPECT_EQ(A.Branch, ArrivalBranch::Wait) << C.Name;
    std::vector<std::string> Messages;
    for (const tools::OemMessage& M : A.Messages) {
      Messages.push_back(M.What + " " + tools::StatusName(M.Status));
    }
    EXPECT_EQ(Messages, C.Messages) << C.Name;
    EXPECT_EQ(A.Clock.size(), C.ClockPhases) << C.Name;
    EXPECT_NE(std::find(A.Notes.begin(), A.Notes.end(), C.Note), A.Notes.end()) << C.Name;
    EXPECT_EQ(A.Passes.empty(), std::string(C.Name) != "no MP services") << C.Name;
  }
}

TEST(AdapterReport, RestoreThenResetLeavesTheRestNotRun) {
  const tools::RunOutcome R =
      RunText(TwoPorts(PortLists, R"(,
    "platform": {"inputs": {"adapter_ready": false}},
    "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0", "at_ms": 10}, {"on": "04:00.1", "at_ms": 20}]},
                        {"name": "late", "starts": [{"on": "04:00.1", "at_ms": 30}]}])",
                       R"("NparRestoreMask": "0x0C", "PendingMask8086": "0x0C")"));
  ASSERT_EQ(R.Arrivals.size(), 3u);
  const tools::ArrivalOutcome& First = R.Arrivals[0];
  EXPECT_EQ(First.Branch, ArrivalBranch::Restore);
  EXPECT_EQ(First.Why, "adapter-ready input 0, NparRestoreMask 0x0000000C");
  ASSERT_EQ(First.Restore.size(), 2u);
  EXPECT_EQ(First.Restore[0].Text, "set netport1 OEMTAL_MULTIFUNCTIONMODE=NPAR");
  EXPECT_EQ(First.Restore[1].Text, "exit");
  EXPECT_TRUE(First.Passes.empty());
  EXPECT_EQ(Fields(First, "TalBladeData"),
            std::vector<std::string>{"NparRestoreMask: 0x0000000C -> 0x00000008"});
  const tools::ArrivalOutcome& Second = R.Arrivals[1];
  EXPECT_TRUE(Second.Outcome.Reset);
  ASSERT_EQ(Second.Resets.size(), 1u);
  EXPECT_EQ(Second.Resets[0].Type, EfiResetCold);
  EXPECT_TRUE(Second.Writes.empty()); // the last bit resets without writing TalBladeData
  EXPECT_FALSE(R.Arrivals[2].Ran);
  EXPECT_FALSE(R.Completion.has_value());
  EXPECT_TRUE(R.CompletionDue);
  EXPECT_EQ(tools::ArrivalsSummary(R.Arrivals), "3 (2 default restore, 1 not run)");
  EXPECT_NE(tools::TextReport(R, false).find("Completion signal: not reached"), std::string::npos);
}

TEST(AdapterReport, AnAdapterReadyInputThatNeverRisesIsAHang) {
  const tools::RunOutcome R = RunText(TwoPorts(PortLists, R"(,
    "platform": {"inputs": {"adapter_ready": false, "wait_enable": true}},
    "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0", "at_ms": 100}]}])"));
  ASSERT_EQ(R.Arrivals.size(), 1u);
  const tools::ArrivalOutcome& A = R.Arrivals[0];
  EXPECT_TRUE(A.Outcome.Hang);
  EXPECT_NE(A.Outcome.HangReason.find("port 0x50C"), std::string::npos) << A.Outcome.HangReason;
  EXPECT_TRUE(A.WaitBegan.has_value());
  EXPECT_FALSE(A.WaitEnded.has_value());
  EXPECT_EQ(A.Polls, 7200u);     // an hour of half-second polls
  ASSERT_EQ(A.Clock.size(), 1u); // slowed down and never restored
  EXPECT_TRUE(tools::AnyArrivalHung(R.Arrivals));
  EXPECT_NE(tools::TextReport(R, false).find("wait: never ended"), std::string::npos);
}

TEST(AdapterReport, ArrivalsThatEndBeforeABranch) {
  // Behind a root port of no slot row; then at a slot row whose FRU device holds no mailbox.
  const tools::RunOutcome R =
      RunText(R"({"fru_devices": [{"id": 1, "size": 4096}, {"id": 5, "size": 4096}],
    "pci": {"bridges": [{"at": "00:1C.0", "secondary_bus": 9, "devices": [{"device": 0, "vendor": "0x8086", "device_id": 1}]},
                        {"at": "00:03.0", "secondary_bus": 5, "devices": [{"device": 0, "vendor": "0x14E4", "device_id": 1}]}]},
    "adapter_drivers": [{"name": "a", "starts": [{"on": "09:00.0"}, {"on": "05:00.0"}]}]})");
  ASSERT_EQ(R.Arrivals.size(), 2u);
  EXPECT_EQ(R.Arrivals[0].Branch, ArrivalBranch::None);
  EXPECT_EQ(R.Arrivals[0].Why, "its location 09:00.0 is in no row of the adapter slot table: "
                               "nothing to do");
  EXPECT_EQ(R.Arrivals[0].Requests, 0u);
  EXPECT_EQ(R.Arrivals[1].Why, "no mailbox found in FRU device 5");
  EXPECT_EQ(R.Arrivals[1].Row, std::optional<size_t>(6));
}

TEST(AdapterReport, AnExecuteErrorStopsTheRunAndLeavesItsMailboxLocked) {
  const tools::RunOutcome R = RunText(TwoPorts(PortLists, R"(,
    "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0"}],
                         "answers": [{"call": 1, "status_word": "0x0500", "efi_status": "EFI_DEVICE_ERROR"}]}])"));
  const tools::ArrivalOutcome& A = R.Arrivals.at(0);
  ASSERT_EQ(A.Passes.size(), 1u);
  const tools::AdapterPass& P = A.Passes[0];
  ASSERT_EQ(P.Commands.size(), 1u);
  EXPECT_EQ(P.Commands[0].Answer->Status, EFI_DEVICE_ERROR);
  EXPECT_FALSE(P.Commands[0].Record.has_value());
  EXPECT_FALSE(P.Released);
  EXPECT_TRUE(Fields(A, "TalBladeData").empty()); // the pending mask keeps its bits
  EXPECT_EQ(A.StatusCodes.size(), 1u);
  EXPECT_NE(tools::TextReport(R, false).find("no record: the run stopped"), std::string::npos);
}

TEST(AdapterReport, AFunctionWithoutPciIoIsNotServed) {
  const tools::RunOutcome R = RunText(TwoPorts(
      PortLists, R"(, "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0"}]}])",
      R"("PendingMask8086": "0x0C")", R"(["00:02.0", "04:00.0"])"));
  const tools::ArrivalOutcome& A = R.Arrivals.at(0);
  ASSERT_EQ(A.Passes.size(), 1u);
  EXPECT_EQ(Fields(A, "TalBladeData"),
            std::vector<std::string>{"PendingMask8086: 0x0000000C -> 0x00000008"});
}

TEST(AdapterReport, EightListsAndAnOverflowingOne) {
  std::string Lists = "[";
  for (int L = 0; L < 7; ++L) {
    Lists += R"([{"id": )" + std::to_string(0x100 * L + 1) +
             R"(, "text": "SET NETPORT1 OEMQX_LUN=)" + std::to_string(L) + R"("}],)";
  }
  Lists += "[";
  for (int I = 0; I < 33; ++I) {
    Lists += std::string(I ? "," : "") + R"({"id": )" + std::to_string(0x700 + I) +
             R"(, "text": "SET NETPORT2 OEMQX_LUN=7"})";
  }
  Lists += "]]";
  const tools::RunOutcome R = RunText(
      TwoPorts(Lists, R"(, "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0"}]}])"));
  const tools::ArrivalOutcome& A = R.Arrivals.at(0);
  ASSERT_EQ(A.Passes.size(), 2u);
  for (const tools::AdapterPass& P : A.Passes) {
    ASSERT_EQ(P.Commands.size(), 7u + 32u);
    EXPECT_EQ(P.Commands[6].List, 6);
    EXPECT_EQ(P.Commands[38].List, 7);
    EXPECT_EQ(P.Commands[38].Index, 31u);
    EXPECT_EQ(P.OverflowLists, std::vector<UINT8>{7});
  }
  EXPECT_EQ(A.Passes[0].Commands[6].Sent, std::optional<std::string>("SET BootLUN=6"));
  EXPECT_EQ(A.Passes[1].Commands[38].Sent, std::optional<std::string>("SET BootLUN=7"));
}

TEST(AdapterReport, JsonCarriesTheArrivals) {
  const tools::RunOutcome R = tools::RunScenario(tools::DefaultScenario());
  const nlohmann::ordered_json Arrivals = ArrivalsJson(R);
  ASSERT_EQ(Arrivals.size(), R.Arrivals.size());
  ASSERT_EQ(Arrivals.size(), 6u);
  const auto& First = Arrivals[0];
  EXPECT_EQ(First["driver"], "net8086");
  EXPECT_EQ(First["function"], "04:00.0");
  EXPECT_EQ(First["branch"], "wait");
  EXPECT_EQ(First["wait"]["length_us"], 1500000);
  EXPECT_EQ(First["oem_messages"][0]["hex"], "02 00 00 43 46");
  EXPECT_EQ(First["clock_modulation"][0]["msr_writes"][0]["value"], "0x12");
  EXPECT_EQ(First["clock_modulation"][1]["startup_all_aps"]["ran_on"],
            nlohmann::ordered_json({1, 2, 3}));
  ASSERT_EQ(First["passes"].size(), 4u);
  for (size_t P = 0; P < 4; ++P) {
    const auto& Commands = First["passes"][P]["commands"];
    ASSERT_EQ(Commands.size(), R.Arrivals[0].Passes[P].Commands.size());
    for (size_t C = 0; C < Commands.size(); ++C) {
      const tools::AdapterCommandOutcome& Want = R.Arrivals[0].Passes[P].Commands[C];
      EXPECT_EQ(Commands[C]["read"]["text"], Want.Read);
      if (Want.Sent) {
        EXPECT_EQ(Commands[C]["sent"]["text"], *Want.Sent);
        EXPECT_EQ(Commands[C]["record"]["status"], "0x00000500");
      } else {
        EXPECT_EQ(Commands[C]["not_sent"], Want.NotSent);
        EXPECT_TRUE(Commands[C]["record"].is_null());
      }
    }
  }
  EXPECT_EQ(First["passes"][1]["commands"][2]["sent"]["text"], "Set BootEnable=iSCSI");
  EXPECT_EQ(Arrivals[1]["notes"][0],
            "nothing pending for vendor 0x8086 (PendingMask8086 0): the mailbox is not touched");
  EXPECT_EQ(Arrivals[5]["passes"][0]["commands"][2]["sent"]["text"],
            "Set Netport1 OEMTAL_MULTIFUNCTIONMODE=SF");
  EXPECT_EQ(Arrivals[5]["variables_written"][0]["changes"][0]["after"], "0x00000000");
}

// BMC texts are bytes: a command that is not ASCII goes through as hex in the JSON report.
TEST(AdapterReport, TextsThatAreNotAsciiGoIntoTheArrivalsAsHex) {
  const tools::RunOutcome R = RunText(TwoPorts(
      R"([[{"id": 1, "hex": "53 45 54 20 4E 45 54 50 4F 52 54 31 20 4E 41 4D 45 3D E9"}]])",
      R"(, "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.0"}]}])"));
  const nlohmann::ordered_json Command = ArrivalsJson(R)[0]["passes"][0]["commands"][0];
  EXPECT_EQ(Command["read"]["hex"], "53 45 54 20 4E 45 54 50 4F 52 54 31 20 4E 41 4D 45 3D E9");
  EXPECT_EQ(Command["sent"]["hex"], "53 45 54 20 4E 41 4D 45 3D E9");
}

} // namespace
