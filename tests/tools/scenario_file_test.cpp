// Scenario files: every bad value is refused with the file, its place and the problem, and the
// values given by name land where the driver reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "mailbox_format/mailbox_image.h"
#include "tools/scenario.h"

namespace {

using tools::InputError;
using tools::ParseScenario;

// A valid scenario with one change spliced in.
std::string With(const std::string& Extra) {
  return R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [[{"id": 1, "text": "SET B1 OEMTAL_NUMA=ENABLE"}]]}}])" +
         Extra + "}";
}

std::string Message(const std::string& Text) {
  try {
    ParseScenario(tools::ParseJsonText(Text, "blade.json"), "blade.json", "");
  } catch (const InputError& E) {
    return E.what();
  }
  return "(accepted)";
}

struct BadFile {
  const char* Text;
  const char* Message; // the whole message or its start
};

const std::string LongText(256, 'A');

const BadFile BadFiles[] = {
    {"{\"fru_devices\": [}", "blade.json: not valid JSON: parse error at line 1, column 18"},
    {"{}", "blade.json: fru_devices: missing"},
    {"[]", "blade.json: top level: expected an object, found array"},
    {R"({"fru_devices": [], "fru_device": 1})",
     "blade.json: fru_device: unknown field; expected one of: description, fru_devices"},
    {R"({"fru_devices": [{"id": "one"}]})",
     "blade.json: fru_devices[0].id: expected a number (decimal, or hexadecimal with 0x), found "
     "\"one\""},
    {R"({"fru_devices": [{"id": 300}]})", "blade.json: fru_devices[0].id: 300 is out of range"},
    {R"({"fru_devices": [{"id": -1}]})", "blade.json: fru_devices[0].id: expected a whole number"},
    {R"({"fru_devices": [{"id": 1}, {"id": 1}]})",
     "blade.json: fru_devices[1].id: FRU device 1 is given twice"},
    {R"({"fru_devices": [{"id": 1, "image": "nowhere.bin"}]})",
     "blade.json: fru_devices[0].image: the FRU image \"nowhere.bin\" cannot be read"},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [[],[],[],[],[],[],[],[],[]]}}]})",
     "blade.json: fru_devices[0].mailbox.lists: 9 command lists; a mailbox holds at most 8"},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [[{"id": 1, "text": "x"}, {"id": "0xFFFF", "text": "y"}]]}}]})",
     "blade.json: fru_devices[0].mailbox.lists[0][1].id: 65535 is out of range"},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"header_offset": 600}}]})",
     "blade.json: fru_devices[0].mailbox.header_offset: 600 is no candidate"},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [{"offset": 70000, "commands": []}]}}]})",
     "blade.json: fru_devices[0].mailbox.lists[0].offset: 70000 is out of range"},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"size": 1024}}]})",
     "blade.json: fru_devices[0].mailbox: the result area at 0x0220 ends at 0x0820, past the end "
     "of "
     "the 1024-byte image"},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [[{"id": 1}]]}}]})",
     "blade.json: fru_devices[0].mailbox.lists[0][0]: give the command as \"text\" or as \"hex\""},
    {R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [[{"id": 1, "hex": "4"}]]}}]})",
     "blade.json: fru_devices[0].mailbox.lists[0][0].hex: an odd number of hexadecimal digits"},
    {R"({"fru_devices": [{"id": 1, "size": 100, "mailbox": {}}]})",
     "blade.json: fru_devices[0]: the size and fill of a device with a mailbox go into the "
     "mailbox"},
    {R"(, "variables": {"Setup": {}})", "blade.json: variables.Setup: no such variable"},
    {R"(, "variables": {"TalBladeData": {"Numa": 1}})",
     "blade.json: variables.TalBladeData.Numa: no such field of TalBladeData; its fields are "
     "UuidValid"},
    {R"(, "variables": {"TalBladeData": {"Ipl1Device": 256}})",
     "blade.json: variables.TalBladeData.Ipl1Device: 256 is out of range"},
    {R"(, "variables": {"TalBladeData": {"Uuid": "00 11"}})",
     "blade.json: variables.TalBladeData.Uuid: expected 16 bytes, found 2"},
    {R"(, "variables": {"ClpCommandFruIdList": {"FruIds": [1, 2]}})",
     "blade.json: variables.ClpCommandFruIdList.FruIds: expected 6 entries, found 2"},
    {R"(, "variables": {"ServerSetup": {"bytes": [{"offset": 100, "hex": "01 02 03"}]}})",
     "blade.json: variables.ServerSetup.bytes[0].hex: runs past the end of the 102-byte variable"},
    {R"(, "platform": {"info": {"twenty-nine": 1}})",
     "blade.json: platform.info.twenty-nine: the key must be a platform information index"},
    {R"(, "platform": {"info_failures": {"29": "EFI_OOPS"}})",
     "blade.json: platform.info_failures.29: expected an EFI error status name"},
    {R"(, "platform": {"inputs": {"adapter_ready": 1}})",
     "blade.json: platform.inputs.adapter_ready: expected true or false, found number"},
    {R"(, "platform": {"cpu": {"threads_per_core": 2}})",
     "blade.json: platform.cpu.cores_per_package: missing"},
    {R"(, "bmc": {"busy": [{"fru": 1, "request": "erase"}]})",
     "blade.json: bmc.busy[0].request: expected \"read\", \"write\", \"power_restore\" or \"any\""},
    {R"(, "bmc": {"busy": [{"fru": 1, "code": 129}]})",
     "blade.json: bmc.busy[0].code: unknown field"},
    {R"(, "bmc": {"completion_codes": [{"fru": 1}]})",
     "blade.json: bmc.completion_codes[0].code: missing"},
    {R"(, "bmc": {"lock": [{"fru": 3, "held_forever": true}]})",
     "blade.json: bmc.lock[0].fru: no FRU device 3 in fru_devices"},
    {R"(, "bmc": {"lock": [{"fru": 1}]})",
     "blade.json: bmc.lock[0]: give \"held_until_ms\", \"held_forever\": true or a \"reaction\", "
     "one of the three"},
    {R"(, "bmc": {"lock": [{"fru": 1, "reaction": "sulks"}]})",
     "blade.json: bmc.lock[0].reaction: expected one of \"hands_turn_back\", "
     "\"takes_lock_while_host_holds\", \"yields_when_asked\", found \"sulks\""},
    {R"(, "bmc": {"lock": [{"fru": 1, "held_forever": true, "after_requests": 2}]})",
     "blade.json: bmc.lock[0].after_requests: only a reaction waits a number of requests"},
    {R"(, "bmc": {"busy": [{"nth": 0}]})", "blade.json: bmc.busy[0].nth: 0 is out of range"},
    {R"(, "bmc": {"transport_failures": [{"status": "EFI_SUCCESS"}]})",
     "blade.json: bmc.transport_failures[0].status: expected an EFI error status name"},
    {R"(, "bmc": {"untruthful": [{"answer": "fib"}]})",
     "blade.json: bmc.untruthful[0].answer: expected one of \"count_above_request\""},
    {R"(, "bmc": {"writes": [{"fru": 1, "offset": 5, "value": 1}]})",
     "blade.json: bmc.writes[0]: give \"at_ms\" or \"before\""},
    {R"(, "bmc": {"writes": [{"fru": 1, "offset": 4095, "hex": "01 02", "at_ms": 1}]})",
     "blade.json: bmc.writes[0].hex: 1 to 1 bytes fit at that offset"},
    {R"(, "bmc": {"writes": [{"fru": 1, "offset": 5, "value": 1, "before": {"times": 2}}]})",
     "blade.json: bmc.writes[0].before.times: unknown field"},
    {R"(, "firmware": {"missing_protocols": ["ipmi"]})",
     "blade.json: firmware.missing_protocols[0]: expected one of \"ipmi_transport\""},
    {R"(, "firmware": {"variable_failures": [{"variable": "TalBladeData"}]})",
     "blade.json: firmware.variable_failures[0]: give \"read\" or \"write\""},
    {R"(, "firmware": {"variable_failures": [{"access": 3, "variable": "TalBladeData"}]})",
     "blade.json: firmware.variable_failures[0]: \"access\" counts every variable service call"},
    {R"(, "platform": {"info_sequences": {"30": ["EFI_FINE"]}})",
     "blade.json: platform.info_sequences.30[0]: expected an EFI error status name"},
    {R"(, "bmc": {"writes": [{"fru": 1, "offset": 5000, "value": 1, "at_ms": 0}]})",
     "blade.json: bmc.writes[0].offset: 5000 is out of range"},
    {R"(, "completion_signal": "yes")",
     "blade.json: completion_signal: expected true or false, found string"},
};

class BadScenario : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadScenario, IsRefusedNamingFilePlaceAndProblem) {
  const std::string Text = GetParam().Text[0] == ',' ? With(GetParam().Text) : GetParam().Text;
  EXPECT_EQ(Message(Text).rfind(GetParam().Message, 0), 0u) << Message(Text);
}

INSTANTIATE_TEST_SUITE_P(Files, BadScenario, ::testing::ValuesIn(BadFiles));

TEST(BadScenario, TextOverTheMailboxLimitIsRefusedWhereItStands) {
  const std::string Text =
      R"({"fru_devices": [{"id": 1, "mailbox": {"lists": [null, [{"id": 1, "text": ")" + LongText +
      R"("}]]}}]})";
  EXPECT_EQ(Message(Text), "blade.json: fru_devices[0].mailbox.lists[1][0].text: a text of 256 "
                           "characters; a command holds at most 255");
}

TEST(BadScenario, LockOnADeviceWithoutAMailbox) {
  EXPECT_EQ(
      Message(
          R"({"fru_devices": [{"id": 4, "size": 2048}], "bmc": {"lock": [{"fru": 4, "held_until_ms": 5}]}})")
          .rfind("blade.json: bmc.lock[0].fru: FRU device 4 holds no mailbox", 0),
      0u);
}

TEST(ScenarioFile, MisbehavioursAndFailuresAreRead) {
  const tools::Scenario S = ParseScenario(tools::ParseJsonText(With(R"(,
    "bmc": {"transport_failures": [{"status": "EFI_TIMEOUT", "request": "read", "nth": 3}],
            "untruthful": [{"answer": "different_data", "request_number": 12, "times": 2}],
            "delays": [{"delay_ms": 5000, "request": "write"}],
            "completion_codes": [{"code": "0xC0", "request": "power_restore", "nth": 2}],
            "request_cost_us": 250,
            "lock": [{"fru": 1, "reaction": "hands_turn_back", "after_requests": 3}],
            "writes": [{"fru": 1, "offset": "0x0240", "hex": "41 42",
                        "before": {"request": "read", "offset": "0x0240", "nth": 2}}]},
    "platform": {"info_sequences": {"30": [0, 1, "EFI_DEVICE_ERROR"]}, "cpu": {"max_leaf": 10}},
    "firmware": {"missing_protocols": ["status_code", "smbios_edit"],
                 "pool_failures": [{"nth": 2}],
                 "variable_failures": [{"variable": "SystemSetup", "read": 2, "times": 1},
                                       {"access": 7, "kind": "write", "status": "EFI_NOT_READY"}]})"),
                                                               "blade.json"),
                                          "blade.json", "");
  // The lists come in their fixed order: completion codes before transport failures, and so on.
  ASSERT_EQ(S.Answers.size(), 4u);
  EXPECT_EQ(S.Answers[0].Code, 0xC0);
  EXPECT_EQ(S.Answers[0].Match.Nth, 2u);
  EXPECT_EQ(S.Answers[1].What, tools::AnswerSetup::TransportFailure);
  EXPECT_EQ(S.Answers[1].Status, EFI_TIMEOUT);
  EXPECT_EQ(S.Answers[1].Match.Nth, 3u);
  EXPECT_EQ(S.Answers[2].Fault, sim::FruAnswerFault::DifferentData);
  EXPECT_EQ(S.Answers[2].Match.Number, 12u);
  EXPECT_EQ(S.Answers[2].Times, 2);
  EXPECT_EQ(S.Answers[3].DelayMicroseconds, 5000000u);
  EXPECT_EQ(S.RequestCostMicroseconds, 250u);
  ASSERT_EQ(S.Locks.size(), 1u);
  EXPECT_EQ(S.Locks[0].Reaction, sim::LockReaction::HandTurnBack);
  EXPECT_EQ(S.Locks[0].AfterRequests, 3u);
  ASSERT_EQ(S.BmcWrites.size(), 1u);
  EXPECT_EQ(S.BmcWrites[0].Bytes, (std::vector<uint8_t>{0x41, 0x42}));
  ASSERT_TRUE(S.BmcWrites[0].Before.has_value());
  EXPECT_EQ(S.BmcWrites[0].Before->Offset, 0x0240);
  ASSERT_EQ(S.PlatformInfoSequences.at(30).size(), 3u);
  EXPECT_EQ(S.PlatformInfoSequences.at(30)[1].Value, 1u);
  EXPECT_EQ(S.PlatformInfoSequences.at(30)[2].Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(S.MaxCpuidLeaf, 10u);
  EXPECT_TRUE(S.Options.InstallIpmiTransport);
  EXPECT_FALSE(S.Options.InstallStatusCode);
  EXPECT_FALSE(S.Options.InstallSmbiosEdit);
  ASSERT_EQ(S.PoolFailures.size(), 1u);
  EXPECT_EQ(S.PoolFailures[0].Status, EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(S.VariableFailures.size(), 2u);
  EXPECT_EQ(S.VariableFailures[0].Kind, sim::VariableAccess::Read);
  EXPECT_EQ(S.VariableFailures[0].Nth, 2u);
  EXPECT_EQ(S.VariableFailures[1].Var, nullptr);
  EXPECT_EQ(S.VariableFailures[1].Kind, sim::VariableAccess::Write);
  EXPECT_EQ(S.VariableFailures[1].Status, EFI_NOT_READY);
}

TEST(ScenarioFile, FieldsByNameLandAtTheirOffsets) {
  const tools::Scenario S = ParseScenario(tools::ParseJsonText(With(R"(, "variables": {
        "TalBladeData": {"DeviceEnableMask": "0x000C0001", "NetBootFlags": 521, "Serial": "AB",
                         "Uuid": "000102030405060708090A0B0C0D0E0F",
                         "bytes": [{"offset": 216, "hex": "5A A5"}]},
        "SystemSetup": {"Iov2Bus4": 1},
        "ClpCommandFruIdList": {"FruIds": [0, 0, 5, 0, 7, 0]},
        "CLPFailureFlag": null})"),
                                                               "blade.json"),
                                          "blade.json", "");
  ASSERT_EQ(S.Variables.size(), 4u);
  auto Named = [&S](const std::string& Label) {
    for (const tools::VariableSetup& V : S.Variables) {
      if (Label == V.Var->Label) {
        return V.Data;
      }
    }
    ADD_FAILURE() << Label << " not set up";
    return std::optional<std::vector<uint8_t>>();
  };
  ASSERT_TRUE(Named("TalBladeData"));
  const std::vector<uint8_t> Blade = *Named("TalBladeData");
  ASSERT_EQ(Blade.size(), 280u);
  EXPECT_EQ(std::vector<uint8_t>(Blade.begin() + 152, Blade.begin() + 156),
            (std::vector<uint8_t>{0x01, 0x00, 0x0C, 0x00}));
  EXPECT_EQ(Blade[164], 0x09);
  EXPECT_EQ(Blade[165], 0x02);
  EXPECT_EQ(std::vector<uint8_t>(Blade.begin() + 20, Blade.begin() + 26),
            (std::vector<uint8_t>{'A', 0, 'B', 0, 0, 0}));
  EXPECT_EQ(Blade[4], 0x00);
  EXPECT_EQ(Blade[19], 0x0F);
  EXPECT_EQ(Blade[216], 0x5A);
  EXPECT_EQ(Blade[217], 0xA5);
  EXPECT_EQ(Named("SystemSetup").value().at(646), 1);
  EXPECT_EQ(Named("ClpCommandFruIdList"), (std::vector<uint8_t>{0, 0, 5, 0, 7, 0}));
  EXPECT_FALSE(Named("CLPFailureFlag").has_value());
}

TEST(ScenarioFile, ImageFilesAreFoundBesideTheScenario) {
  const std::string Dir = ::testing::TempDir();
  mailbox_format::MailboxImage Image;
  Image.HeaderOffset = 1024;
  Image.Lists[0] = mailbox_format::MailboxList{{{7, "SET B1 DEFAULT"}}};
  const std::vector<uint8_t> Bytes = mailbox_format::EncodeMailboxImage(Image);
  std::ofstream(Dir + "/fru7.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(Bytes.data()), Bytes.size());
  std::ofstream(Dir + "/blade.json") << R"({"fru_devices": [{"id": 1, "image": "fru7.bin"}]})";
  const tools::Scenario S = tools::LoadScenario(Dir + "/blade.json");
  ASSERT_EQ(S.Frus.size(), 1u);
  EXPECT_EQ(S.Frus[0].Bytes, Bytes);
  std::remove((Dir + "/fru7.bin").c_str());
  std::remove((Dir + "/blade.json").c_str());
}

TEST(ScenarioFile, DefaultIsAValidScenarioFile) {
  const tools::Scenario S = tools::DefaultScenario();
  ASSERT_EQ(S.Frus.size(), 3u);
  const mailbox_format::DecodedMailbox D = mailbox_format::DecodeMailboxImage(S.Frus[0].Bytes);
  EXPECT_GE(D.Image.Lists[0]->Commands.size(), 10u);
  EXPECT_LE(D.Image.Lists[0]->Commands.size(), 14u);
  // Adapters of two vendors behind the root ports of FRU devices 4 and 5.
  EXPECT_EQ(S.Frus[1].Id, 4);
  EXPECT_EQ(S.Frus[2].Id, 5);
  ASSERT_EQ(S.Adapters.Pci.Functions.size(), 6u);
  EXPECT_EQ(S.Adapters.Pci.Functions[0].VendorId, 0x8086);
  EXPECT_EQ(S.Adapters.Pci.Functions[5].VendorId, 0x14E4);
  ASSERT_EQ(S.Adapters.Drivers.size(), 2u);
}

} // namespace
