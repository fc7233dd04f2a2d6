// The adapter keys of scenario files: what they set up, and every bad value refused with the file,
// its place and the problem.
#include <gtest/gtest.h>

#include "tools/scenario.h"

namespace {

using tools::InputError;

// A scenario with a platform mailbox and Extra spliced in.
std::string With(const std::string& Extra) {
  return R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [[{"id": 1, "text": "SET B1 OEMTAL_NUMA=ENABLE"}]]}}])" +
         Extra + "}";
}

tools::Scenario Parse(const std::string& Text) {
  return tools::ParseScenario(tools::ParseJsonText(Text, "blade.json"), "blade.json", "");
}

std::string Message(const std::string& Text) {
  try {
    Parse(Text);
  } catch (const InputError& E) {
    return E.what();
  }
  return "(accepted)";
}

// Behind 00:02.0, two functions of vendor 0x8086.
const std::string Bridge4 =
    R"("pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 0, "vendor": "0x8086", "device_id": "0x10FB", "functions": 2}]}]})";

TEST(ScenarioAdapters, TopologyDriversAndProcessorsLandWhereTheBladeTakesThem) {
  const tools::Scenario S = Parse(With(R"(,
    "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": "0x04",
                         "devices": [{"device": 0, "vendor": "0x8086", "device_id": "0x10FB", "functions": 2},
                                     {"device": 1, "function": 3, "vendor": "0x14E4", "device_id": 5806}]}],
            "functions": [{"at": "07:00.0", "vendor": "0x10DF", "device_id": "0xE200"}],
            "pci_io_order": ["07:00.0", "04:00.1", "04:00.0"]},
    "adapter_drivers": [{"name": "nic", "starts": [{"on": "04:00.1", "at_ms": 250}, {"on": "04:00.0"}],
                         "default_answer": {"status_word": "0x0501"},
                         "answers": [{"call": 2, "efi_status": "EFI_DEVICE_ERROR"},
                                     {"text": "SET BootEnable=ENABLE", "status_word": "0xF002", "times": 2},
                                     {"hex": "53 45 54 E9", "status_word": 5}]}],
    "mp_services": {"processors": 8, "startup_failure": "EFI_NOT_READY", "clock_modulation": "0x10"},
    "platform": {"inputs": {"adapter_ready": [{"at_ms": 0, "high": false}, {"at_ms": 1500, "high": true}],
                            "wait_enable": [{"at_ms": 10, "high": true}]}},
    "bmc": {"wait_messages": [{"message": "ends", "code": "0xC0", "times": 2},
                              {"message": "either", "status": "EFI_TIMEOUT"}]},
    "completion_signal": {"at_ms": 3000})"));
  const tools::AdapterSetup& A = S.Adapters;
  ASSERT_EQ(A.Pci.Bridges.size(), 1u);
  EXPECT_EQ(A.Pci.Bridges[0].At, sim::PciAddress(0, 2, 0));
  EXPECT_EQ(A.Pci.Bridges[0].SecondaryBus, 4);
  ASSERT_EQ(A.Pci.Functions.size(), 4u); // two functions alike, one alone, one anywhere
  EXPECT_EQ(A.Pci.Functions[1].At, sim::PciAddress(4, 0, 1));
  EXPECT_EQ(A.Pci.Functions[2].At, sim::PciAddress(4, 1, 3));
  EXPECT_EQ(A.Pci.Functions[2].DeviceId, 5806);
  EXPECT_EQ(A.Pci.Functions[3].VendorId, 0x10DF);
  ASSERT_TRUE(A.Pci.PciIoOrder.has_value());
  EXPECT_EQ(A.Pci.PciIoOrder->front(), sim::PciAddress(7, 0, 0));

  ASSERT_EQ(A.Drivers.size(), 1u);
  const tools::AdapterDriverSetup& D = A.Drivers[0];
  EXPECT_EQ(D.Name, "nic");
  ASSERT_EQ(D.Starts.size(), 2u);
  EXPECT_EQ(D.Starts[0].AtMicroseconds, 250000u);
  EXPECT_EQ(D.Starts[1].AtMicroseconds, 0u);
  EXPECT_EQ(D.DefaultAnswer->StatusWord, 0x0501u);
  ASSERT_EQ(D.Answers.size(), 3u);
  EXPECT_EQ(*D.Answers[0].Call, 2u);
  EXPECT_EQ(D.Answers[0].Answer.StatusWord, 0x0500u); // the word a done command answers
  EXPECT_EQ(D.Answers[0].Answer.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(*D.Answers[1].Text, "SET BootEnable=ENABLE");
  EXPECT_EQ(D.Answers[1].Times, 2);
  EXPECT_EQ(*D.Answers[2].Text, "SET\xE9");
  EXPECT_EQ(D.Answers[2].Times, -1);

  EXPECT_EQ(*A.Mp.Processors, 8u);
  EXPECT_EQ(*A.Mp.StartupFailure, EFI_NOT_READY);
  EXPECT_EQ(*A.Mp.ClockModulation, 0x10u);
  ASSERT_EQ(A.AdapterReadyChanges.size(), 2u);
  EXPECT_TRUE(A.AdapterReadyChanges[1].High);
  EXPECT_EQ(A.AdapterReadyChanges[1].AtMicroseconds, 1500000u);
  EXPECT_EQ(A.WaitEnableChanges.size(), 1u);
  ASSERT_EQ(A.WaitAnswers.size(), 2u);
  EXPECT_EQ(*A.WaitAnswers[0].Code, 0xC0);
  EXPECT_EQ(A.WaitAnswers[0].Times, 2);
  EXPECT_EQ(*A.WaitAnswers[1].Status, EFI_TIMEOUT);
  EXPECT_EQ(*S.CompletionAtMicroseconds, 3000000u);
}

TEST(ScenarioAdapters, MailboxesGoInAnyFruDeviceOfTheSlotTable) {
  const tools::Scenario S = Parse(R"({"fru_devices": [
      {"id": 2, "size": 16}, {"id": 4, "mailbox": {}}, {"id": "0x50", "mailbox": {"header_offset": 2304}},
      {"id": "0x51", "mailbox": {}}, {"id": "0x52", "mailbox": {"lists": [[], [], [], [], [], [], [], []]}}]})");
  ASSERT_EQ(S.Frus.size(), 5u);
  EXPECT_EQ(S.Frus[2].Id, 0x50);
  EXPECT_EQ(S.Frus[4].Id, 0x52);
  EXPECT_TRUE(S.Adapters.Drivers.empty());
  EXPECT_TRUE(S.Adapters.Mp.Present);
}

struct BadFile {
  std::string Extra;
  const char* Message;
};

const BadFile BadFiles[] = {
    {R"(, "pci": {"bridge": []})",
     "blade.json: pci.bridge: unknown field; expected one of: bridges, functions, pci_io_order"},
    {R"(, "pci": {"bridges": [{"at": "0:2.0", "secondary_bus": 4}]})",
     "blade.json: pci.bridges[0].at: expected a PCI location \"bb:dd.f\" in hexadecimal"},
    {R"(, "pci": {"bridges": [{"at": "00:20.0", "secondary_bus": 4}]})",
     "blade.json: pci.bridges[0].at: expected a PCI location"},
    {R"(, "pci": {"bridges": [{"at": "00:02.8", "secondary_bus": 4}]})",
     "blade.json: pci.bridges[0].at: expected a PCI location"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 0}]})",
     "blade.json: pci.bridges[0].secondary_bus: 0 is out of range"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4}, {"at": "00:03.0", "secondary_bus": "0x4"}]})",
     "blade.json: pci.bridges[1].secondary_bus: bus 4 is already behind bridge 00:02.0"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4}, {"at": "00:02.0", "secondary_bus": 5}]})",
     "blade.json: pci.bridges[1].at: a second PCI function at 00:02.0"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 32, "vendor": 1, "device_id": 1}]}]})",
     "blade.json: pci.bridges[0].devices[0].device: 32 is out of range"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 0, "vendor": "0xFFFF", "device_id": 1}]}]})",
     "blade.json: pci.bridges[0].devices[0].vendor: 65535 is out of range"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 0, "vendor": 1, "device_id": 1, "functions": 9}]}]})",
     "blade.json: pci.bridges[0].devices[0].functions: 9 is out of range"},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 0, "vendor": 1, "device_id": 1, "function": 1, "functions": 2}]}]})",
     "blade.json: pci.bridges[0].devices[0]: give \"function\" (one function) or \"functions\""},
    {R"(, "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 0, "vendor": 1, "device_id": 1, "functions": 2}, {"device": 0, "function": 1, "vendor": 1, "device_id": 1}]}]})",
     "blade.json: pci.bridges[0].devices[1]: a second PCI function at 04:00.1"},
    {R"(, "pci": {"functions": [{"at": "07:00.0", "vendor": 1}]})",
     "blade.json: pci.functions[0].device_id: missing"},
    {R"(, "pci": {"functions": [{"at": "07:00.0", "vendor": 1, "device_id": 1}], "pci_io_order": ["07:00.1"]})",
     "blade.json: pci.pci_io_order[0]: no PCI function at 07:00.1 in pci"},
    {R"(, "pci": {"functions": [{"at": "07:00.0", "vendor": 1, "device_id": 1}], "pci_io_order": ["07:00.0", "07:00.0"]})",
     "blade.json: pci.pci_io_order[1]: 07:00.0 is given twice"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "04:00.0"}]}])",
     "blade.json: adapter_drivers[0].starts[0].on: no adapter function at 04:00.0 in pci"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "00:02.0"}]}], )" +
         std::string(R"("pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4}]})"),
     "blade.json: adapter_drivers[0].starts[0].on: no adapter function at 00:02.0 in pci"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "04:00.1"}]}], )" +
         std::string(
             R"("pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4, "devices": [{"device": 0, "function": 1, "vendor": 1, "device_id": 1}]}]})"),
     "blade.json: adapter_drivers[0].starts[0].on: firmware does not see 04:00.1: 04:00.0 is not "
     "in pci, and a device without function 0 is not there"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "04:00.0"}]}], )" +
         std::string(
             R"("pci": {"bridges": [{"at": "00:02.2", "secondary_bus": 4, "devices": [{"device": 0, "vendor": 1, "device_id": 1}]}]})"),
     "blade.json: adapter_drivers[0].starts[0].on: firmware does not see 04:00.0: 00:02.0 is not "
     "in pci, and a device without function 0 is not there"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "04:00.0"}, {"on": "04:00.0"}]}], )" +
         Bridge4,
     "blade.json: adapter_drivers[0].starts[1].on: the driver starts on 04:00.0 once"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "04:00.0", "at_ms": -5}]}], )" +
         Bridge4,
     "blade.json: adapter_drivers[0].starts[0].at_ms: expected a whole number"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [{"on": "04:00.0", "at_ms": 86400001}]}], )" +
         Bridge4,
     "blade.json: adapter_drivers[0].starts[0].at_ms: 86400001 is out of range"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": []}, {"name": "a", "starts": []}])",
     "blade.json: adapter_drivers[1].name: a second adapter driver named \"a\""},
    {R"(, "adapter_drivers": [{"name": "a"}])", "blade.json: adapter_drivers[0].starts: missing"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "answers": [{"status_word": 1}]}])",
     "blade.json: adapter_drivers[0].answers[0]: give the \"call\" number or the command \"text\""},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "answers": [{"call": 0}]}])",
     "blade.json: adapter_drivers[0].answers[0].call: 0 is out of range"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "answers": [{"call": 1, "times": 2}]}])",
     "blade.json: adapter_drivers[0].answers[0].times: a call number is answered once"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "answers": [{"text": "", "status_word": 1}]}])",
     "blade.json: adapter_drivers[0].answers[0].text: a command text has 1 to 255 characters"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "answers": [{"call": 1, "status_word": "0x100000000"}]}])",
     "blade.json: adapter_drivers[0].answers[0].status_word: 4294967296 is out of range"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "answers": [{"call": 1, "efi_status": "EFI_BROKEN"}]}])",
     "blade.json: adapter_drivers[0].answers[0].efi_status: expected an EFI status name"},
    {R"(, "adapter_drivers": [{"name": "a", "starts": [], "default_answer": {"call": 1}}])",
     "blade.json: adapter_drivers[0].default_answer.call: unknown field"},
    {R"(, "mp_services": {"processors": 0})",
     "blade.json: mp_services.processors: 0 is out of range"},
    {R"(, "mp_services": {"present": "no"})",
     "blade.json: mp_services.present: expected true or false"},
    {R"(, "mp_services": {"startup_failure": "EFI_SUCCESS"})",
     "blade.json: mp_services.startup_failure: expected an EFI error status name"},
    {R"(, "platform": {"inputs": {"adapter_ready": [{"at_ms": 5, "high": true}, {"at_ms": 5, "high": false}]}})",
     "blade.json: platform.inputs.adapter_ready[1].at_ms: give the changes in time order"},
    {R"(, "platform": {"inputs": {"wait_enable": [{"at_ms": 5}]}})",
     "blade.json: platform.inputs.wait_enable[0].high: missing"},
    {R"(, "platform": {"inputs": {"adapter_ready": [{"at_ms": 5, "high": true}], "adapter_ready_at_ms": 9}})",
     "blade.json: platform.inputs.adapter_ready_at_ms: the changes of adapter_ready say when it "
     "rises"},
    {R"(, "bmc": {"wait_messages": [{"message": "start", "code": 1}]})",
     "blade.json: bmc.wait_messages[0].message: expected \"begins\", \"ends\" or \"either\", found "
     "\"start\""},
    {R"(, "bmc": {"wait_messages": [{"message": "ends"}]})",
     "blade.json: bmc.wait_messages[0]: give the completion \"code\" or the transport \"status\""},
    {R"(, "bmc": {"wait_messages": [{"message": "ends", "code": 0}]})",
     "blade.json: bmc.wait_messages[0].code: 0 is out of range"},
    {R"(, "completion_signal": {"at": 5})",
     "blade.json: completion_signal.at: unknown field; expected one of: at_ms"},
};

TEST(ScenarioAdapters, BadValuesAreRefusedWithFileAndPlace) {
  for (const BadFile& B : BadFiles) {
    const std::string Got = Message(With(B.Extra));
    EXPECT_EQ(Got.rfind(B.Message, 0), 0u) << B.Extra << "\n  gave: " << Got;
  }
}

} // namespace
