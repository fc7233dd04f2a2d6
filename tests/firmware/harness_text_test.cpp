// The text the harness and the runner exchange: the scenario file (written by the runner, parsed by
// the harness) and the report (written by the harness, parsed by the runner).
#include <gtest/gtest.h>
#include <string>

#include "firmware/common/smbios_record.h"
#include "firmware/harness/report_writer.h"
#include "firmware/harness/scenario.h"
#include "firmware/runner/report.h"
#include "firmware/runner/scenario_builder.h"

namespace {

// 3C095E8C-7653-11E1-A8EB-080027FA6E7F as firmware holds it in memory.
constexpr EFI_GUID BladeGuid = {
    0x3C095E8C, 0x7653, 0x11E1, {0xA8, 0xEB, 0x08, 0x00, 0x27, 0xFA, 0x6E, 0x7F}};

std::vector<Directive> ParseAll(const std::string& Text, std::string* Error = nullptr) {
  std::vector<Directive> Out;
  UINTN Position = 0;
  const char* Line = nullptr;
  UINTN Length = 0;
  while (NextLine(Text.data(), Text.size(), &Position, &Line, &Length)) {
    auto D = std::make_unique<Directive>();
    const char* Message = nullptr;
    const ParseOutcome O = ParseDirective(Line, Length, D.get(), &Message);
    if (O == ParseOutcome::Error) {
      if (Error != nullptr) {
        *Error = Message;
      }
      return {};
    }
    if (O == ParseOutcome::Directive) {
      Out.push_back(*D);
    }
  }
  return Out;
}

std::u16string Name(const Directive& D) {
  return std::u16string(D.Name);
}

TEST(ScenarioFile, WhatTheRunnerWritesTheHarnessReadsBack) {
  fw::ScenarioBuilder S;
  S.Variable("TalBladeData", "3C095E8C-7653-11E1-A8EB-080027FA6E7F", 6, {0x00, 0xAB, 0xFF})
      .Variable("Empty", "3C095E8C-7653-11E1-A8EB-080027FA6E7F", 7, {})
      .Platform(30, 1)
      .Watch("CLPFailureFlag", "3C095E8C-7653-11E1-A8EB-080027FA6E7F", 1)
      .Readback(2, 512, 40)
      .Load("\\BLADE\\BladeCfgDxe.efi")
      .Completion()
      .Snapshot("after-entry")
      .Pci(0x40, 0, 0)
      .SmbiosUuid({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                   0xDD, 0xEE, 0xFF})
      .Ipmi(0x30, 0x41, {0x01, 0x02})
      .Ipmi(0x06, 0x01, {})
      .Clock("pass-end")
      .Stall(100000);
  const std::vector<Directive> D = ParseAll("# comment\r\n\n" + S.Text());
  ASSERT_EQ(D.size(), 14u);
  EXPECT_EQ(D[0].Kind, DirectiveKind::Variable);
  EXPECT_EQ(Name(D[0]), u"TalBladeData");
  EXPECT_TRUE(GuidEquals(D[0].Guid, BladeGuid)) << "the GUID's in-memory layout";
  EXPECT_EQ(D[0].Attributes, 6u);
  EXPECT_EQ(std::vector<uint8_t>(D[0].Data, D[0].Data + D[0].DataSize),
            (std::vector<uint8_t>{0x00, 0xAB, 0xFF}));
  EXPECT_EQ(D[1].DataSize, 0u);
  EXPECT_EQ(D[1].Attributes, 7u);
  EXPECT_EQ(D[2].Kind, DirectiveKind::Platform);
  EXPECT_EQ(D[2].Numbers[0], 30u);
  EXPECT_EQ(D[2].Numbers[1], 1u);
  EXPECT_EQ(D[3].Kind, DirectiveKind::Watch);
  EXPECT_EQ(D[3].Numbers[0], 1u);
  EXPECT_EQ(D[4].Kind, DirectiveKind::Readback);
  EXPECT_EQ(D[4].Numbers[1], 512u);
  EXPECT_EQ(D[5].Kind, DirectiveKind::Load);
  EXPECT_EQ(Name(D[5]), u"\\BLADE\\BladeCfgDxe.efi");
  EXPECT_EQ(D[6].Kind, DirectiveKind::Completion);
  EXPECT_STREQ(D[7].Tag, "after-entry");
  EXPECT_EQ(D[8].Kind, DirectiveKind::Pci);
  EXPECT_EQ(D[8].Numbers[0], 0x40u);
  EXPECT_EQ(D[9].Kind, DirectiveKind::SmbiosUuid);
  ASSERT_EQ(D[9].DataSize, 16u);
  EXPECT_EQ(D[9].Data[15], 0xFF);
  EXPECT_EQ(D[10].Kind, DirectiveKind::Ipmi);
  EXPECT_EQ(D[10].Numbers[0], 0x30u);
  EXPECT_EQ(D[10].Numbers[1], 0x41u);
  EXPECT_EQ(std::vector<uint8_t>(D[10].Data, D[10].Data + D[10].DataSize),
            (std::vector<uint8_t>{0x01, 0x02}));
  EXPECT_EQ(D[11].DataSize, 0u) << "a request with no data";
  EXPECT_EQ(D[12].Kind, DirectiveKind::Clock);
  EXPECT_STREQ(D[12].Tag, "pass-end");
  EXPECT_EQ(D[13].Kind, DirectiveKind::Stall);
  EXPECT_EQ(D[13].Numbers[0], 100000u);
}

TEST(ScenarioFile, AdapterInputAndProcessorDirectivesReadBack) {
  fw::ScenarioBuilder S;
  S.Adapter(0x42, 0, 3, {{0x0500}, fw::ExecuteFails, {0xF0FF}})
      .Connect(0x42, 0, 3)
      .Execute(2, 0, 1, "set netport1 a=b")
      .ReadyInput(true)
      .ReadyInput(false)
      .ReadyInputRises(1200)
      .WaitReady(5000)
      .PciHandles()
      .MpRun()
      .SmbiosTable();
  const std::vector<Directive> D = ParseAll(S.Text());
  ASSERT_EQ(D.size(), 10u);
  EXPECT_EQ(D[0].Kind, DirectiveKind::Adapter);
  EXPECT_EQ(D[0].Numbers[0], 0x42u);
  EXPECT_EQ(D[0].Numbers[2], 3u);
  ASSERT_EQ(D[0].AnswerCount, 3u);
  EXPECT_EQ(D[0].Answers[0].Returned, EFI_SUCCESS);
  EXPECT_EQ(D[0].Answers[0].StatusWord, 0x0500u);
  EXPECT_EQ(D[0].Answers[1].Returned, EFI_DEVICE_ERROR);
  EXPECT_EQ(D[0].Answers[2].StatusWord, 0xF0FFu);
  EXPECT_EQ(D[1].Kind, DirectiveKind::Connect);
  EXPECT_EQ(D[1].Numbers[0], 0x42u);
  EXPECT_EQ(D[2].Kind, DirectiveKind::Execute);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(D[2].Data), D[2].DataSize),
            "set netport1 a=b");
  EXPECT_EQ(D[3].Kind, DirectiveKind::ReadyInput);
  EXPECT_EQ(D[3].Numbers[0], 1u);
  EXPECT_EQ(D[4].Numbers[0], 0u);
  EXPECT_EQ(D[5].Kind, DirectiveKind::ReadyInputRises);
  EXPECT_EQ(D[5].Numbers[0], 1200u);
  EXPECT_EQ(D[6].Kind, DirectiveKind::WaitReady);
  EXPECT_EQ(D[7].Kind, DirectiveKind::PciHandles);
  EXPECT_EQ(D[8].Kind, DirectiveKind::MpRun);
  EXPECT_EQ(D[9].Kind, DirectiveKind::SmbiosTable);
  const std::vector<Directive> Sixteen = ParseAll("adapter 1 0 0 1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1");
  ASSERT_EQ(Sixteen.size(), 1u);
  EXPECT_EQ(Sixteen[0].AnswerCount, 16u);
}

TEST(ScenarioFile, BadLinesAreRefusedWithAReason) {
  const std::string Guid = "3C095E8C-7653-11E1-A8EB-080027FA6E7F";
  const std::string Lines[] = {
      "frobnicate",
      "variable TalBladeData " + Guid + " 6",                           // no bytes
      "variable TalBladeData " + Guid + " 6 abc",                       // odd hex
      "variable TalBladeData " + Guid + " 6 zz",                        // not hex
      "variable TalBladeData 3C095E8C-7653-11E1-A8EB-080027FA6E7 6 00", // short GUID
      "variable TalBladeData " + Guid + " 6 " + std::string(2 * (ScenarioDataMax + 1), '0'),
      "variable " + std::string(ScenarioNameMax, 'N') + " " + Guid + " 6 00",
      "platform 30",
      "platform 30 x",
      "readback 1 65535 2", // runs past the FRU address space
      "readback 1 0 0",
      "readback 256 0 1",
      "watch CLPFailureFlag " + Guid + " 5000",
      "load",
      "completion now",
      "snapshot Entry", // tags are lower case
      "pci 0 32 0",
      "smbios-uuid 00112233", // a UUID is 16 bytes
      "ipmi 64 1 -",          // NetFn is six bits
      "ipmi 6 256 -",
      "ipmi 6 1",
      "ipmi 6 1 " + std::string(2 * (ScenarioIpmiDataMax + 1), '0'),
      "platform 1 2 3 4 5 6",
      "clock",
      "clock Pass", // tags are lower case
      "stall",
      "stall 10000001", // more than ten seconds

      "platform 99999999999 1",
      "adapter 1 0 0",                                   // no answers
      "adapter 1 0 0 0x500,",                            // an empty answer
      "adapter 1 0 0 0x500,Error",                       // "error" only
      "adapter 1 0 0 1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1", // seventeen
      "adapter 1 32 0 0x500",
      "adapter 1 0 8 0x500",
      "connect 1 0",
      "connect 256 0 0",
      "execute 1 0 0",
      "execute 1 0 0 " + std::string(2 * 256, '4'), // no room for the NUL
      "ready-input 2",
      "ready-input-rises 0",
      "ready-input-rises 600001",
      "wait-ready",
      "pci-handles 1",
      "mp-run now",
      "smbios-table 1",
  };
  for (const std::string& Line : Lines) {
    std::string Error;
    EXPECT_TRUE(ParseAll(Line, &Error).empty()) << Line;
    EXPECT_FALSE(Error.empty()) << Line;
  }
}

TEST(ScenarioFile, NumbersAreDecimalOrHexadecimal) {
  const std::vector<Directive> D = ParseAll("readback 0x2 0x200 16\n");
  ASSERT_EQ(D.size(), 1u);
  EXPECT_EQ(D[0].Numbers[0], 2u);
  EXPECT_EQ(D[0].Numbers[1], 512u);
  EXPECT_EQ(D[0].Numbers[2], 16u);
}

// The report the way the harness writes it, read back by the runner.
std::string Written(void (*Write)(ReportWriter&)) {
  std::string Text;
  ReportWriter W([](void* C, char Ch) { static_cast<std::string*>(C)->push_back(Ch); }, &Text);
  Write(W);
  return Text;
}

void FullReport(ReportWriter& W) {
  const CHAR16 Path[] = u"\\BLADE\\BladeCfgDxe.efi";
  const CHAR16 Var[] = u"TalBladeData";
  const UINT8 Bytes[] = {0x01, 0x02, 0xFE};
  W.Word("begin").End();
  W.Word("start").Name(Path).End();
  W.Word("load").Name(Path).Status(EFI_SUCCESS).Status(EFI_SUCCESS).Decimal(1).End();
  W.Word("snapshot").Word("entry").End();
  W.Word("fru").Word("entry").Decimal(2).Decimal(512).Status(EFI_SUCCESS).Bytes(Bytes, 3).End();
  W.Word("var").Word("entry").Name(Var).Guid(BladeGuid).Status(EFI_NOT_FOUND);
  W.Bytes(nullptr, 0).End();
  W.Word("codes").Word("entry").Decimal(1).End();
  W.Word("code").Word("entry").Decimal(0).Hex(2, 8).Hex(0xC000B3A0, 8).Decimal(0).End();
  W.Word("pci").Word("40:00.0").Hex(0x000C1B36, 8).Hex(0x00414140, 8).End();
  W.Word("smbios").Word("table").Status(EFI_SUCCESS).Bytes(Bytes, 3).End();
  W.Word("completion").Status(EFI_SUCCESS).End();
  W.Word("ipmi").Hex(0x30, 2).Hex(0x41, 2).Status(EFI_DEVICE_ERROR).Bytes(Bytes + 2, 1).End();
  W.Word("ipmi").Hex(0x06, 2).Hex(0x01, 2).Status(EFI_SUCCESS).Bytes(Bytes, 2).End();
  W.Word("clock").Word("pass-end").Decimal(123456789012ull).Decimal(4000).Decimal(250).End();
  W.Word("inputs").Word("entry").Hex(0x00B06008, 8).Hex(0xFFFFFFFF, 8).Decimal(1).End();
  W.Word("execs").Word("entry").Decimal(2).End();
  const UINT8 Text[] = {'e', 'x', 'i', 't'};
  W.Word("exec").Word("entry").Decimal(0).Word("42:00.1").Status(EFI_SUCCESS).Decimal(0);
  W.Decimal(1).Decimal(1).Status(EFI_SUCCESS).Hex(0x0500, 8).Bytes(Text, 4).End();
  W.Word("exec").Word("entry").Decimal(1).Word("-").Status(EFI_NOT_FOUND).Decimal(1);
  W.Decimal(0).Decimal(0).Status(EFI_UNSUPPORTED).Hex(0, 8).Bytes(nullptr, 0).End();
  W.Word("mpcalls").Word("entry").Decimal(1).End();
  W.Word("mpcall").Word("entry").Decimal(0).Word("\\BLADE\\BladeCfgDxe.efi").Hex(0x1A30, 8);
  W.Decimal(0).Decimal(0).Decimal(0).Decimal(0).Decimal(0).Status(EFI_SUCCESS).End();
  W.Word("pciio").Decimal(0).Decimal(0).Word("00:02.0").Hex(0x000C1B36, 8).Status(0).End();
  W.Word("pciio").Decimal(1).Decimal(0).Word("01:00.0").Hex(0x10D38086, 8).Status(0).End();
  W.Word("connecting").Word("01:00.0").End();
  W.Word("connect").Word("01:00.0").Status(EFI_SUCCESS).Decimal(1).End();
  W.Word("execute").Word("01:00.0").Status(EFI_SUCCESS).Hex(0x0E00, 8).End();
  W.Word("ready-wait").Decimal(1300).Hex(0x00B06009, 8).End();
  W.Word("mprun").Status(EFI_SUCCESS).Decimal(4).Decimal(4).Decimal(3).End();
  W.Word("reset").Decimal(0).Status(EFI_SUCCESS).End();
  W.Word("error").Word("a thing failed").Status(EFI_DEVICE_ERROR).End();
  const UINTN Lines = W.Lines();
  W.Word("end").Decimal(Lines).End();
}

TEST(Report, WhatTheHarnessWritesTheRunnerReadsBack) {
  const fw::Report R = fw::ParseReport(Written(FullReport));
  ASSERT_TRUE(R.Complete()) << (R.Problems.empty() ? "" : R.Problems.front());
  const fw::LoadLine* L = R.Load("BladeCfgDxe.efi");
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(L->StartStatus, EFI_SUCCESS);
  EXPECT_TRUE(L->Resident);
  const fw::Snapshot& S = R.Snapshots.at("entry");
  EXPECT_EQ(S.Fru.at({2, 512}).Bytes, (std::vector<uint8_t>{0x01, 0x02, 0xFE}));
  EXPECT_EQ(S.Variables.at("TalBladeData 3c095e8c-7653-11e1-a8eb-080027fa6e7f").Status,
            EFI_NOT_FOUND);
  EXPECT_TRUE(S.Variables.at("TalBladeData 3c095e8c-7653-11e1-a8eb-080027fa6e7f").Bytes.empty());
  ASSERT_EQ(S.Codes.size(), 1u);
  EXPECT_EQ(S.Codes[0].Value, 0xC000B3A0u);
  EXPECT_EQ(R.Pci.at("40:00.0").BusNumbers, 0x00414140u);
  EXPECT_EQ(R.Smbios.at("table").Bytes.size(), 3u);
  ASSERT_EQ(R.Ipmi.size(), 2u);
  EXPECT_EQ(R.Ipmi[0].NetFn, 0x30);
  EXPECT_EQ(R.Ipmi[0].Command, 0x41);
  EXPECT_EQ(R.Ipmi[0].Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(R.Ipmi[0].Bytes, std::vector<uint8_t>{0xFE});
  EXPECT_EQ(R.Ipmi[1].Bytes, (std::vector<uint8_t>{0x01, 0x02}));
  ASSERT_EQ(R.Clocks.count("pass-end"), 1u);
  EXPECT_EQ(R.Clocks.at("pass-end").Counter, 123456789012u);
  EXPECT_EQ(R.Clocks.at("pass-end").LastStartTicks, 4000u);
  EXPECT_EQ(R.Clocks.at("pass-end").IpmiTicks, 250u);
  ASSERT_TRUE(R.Reset.has_value());
  EXPECT_EQ(R.Reset->Type, 0u);
  ASSERT_EQ(R.Errors.size(), 1u);
  EXPECT_EQ(R.Errors[0], "a_thing_failed 8000000000000007") << "blanks never split a word";
}

TEST(Report, AdapterInputAndProcessorLinesReadBack) {
  const fw::Report R = fw::ParseReport(Written(FullReport));
  ASSERT_TRUE(R.Complete()) << (R.Problems.empty() ? "" : R.Problems.front());
  const fw::Snapshot& S = R.Snapshots.at("entry");
  ASSERT_TRUE(S.Inputs.has_value());
  EXPECT_EQ(S.Inputs->ReadyPort, 0x00B06008u);
  EXPECT_EQ(S.Inputs->WaitPort, 0xFFFFFFFFu);
  EXPECT_TRUE(S.Inputs->Risen);
  EXPECT_EQ(S.ExecutesSeen, 2u);
  ASSERT_EQ(S.Executes.size(), 2u);
  EXPECT_EQ(S.Executes[0].Location, "42:00.1");
  EXPECT_FALSE(S.Executes[0].OwnRecord);
  EXPECT_TRUE(S.Executes[0].CommandZeroFilled);
  EXPECT_TRUE(S.Executes[0].ResponseZeroed);
  EXPECT_EQ(S.Executes[0].StatusWord, 0x0500u);
  EXPECT_EQ(S.Executes[0].Text, "exit");
  EXPECT_EQ(S.Executes[1].Location, "-");
  EXPECT_EQ(S.Executes[1].LocationStatus, EFI_NOT_FOUND);
  EXPECT_TRUE(S.Executes[1].OwnRecord);
  EXPECT_EQ(S.Executes[1].Returned, EFI_UNSUPPORTED);
  EXPECT_EQ(S.Executes[1].Text, "");
  ASSERT_EQ(S.MpCalls.size(), 1u);
  EXPECT_EQ(S.MpCalls[0].Image, "\\BLADE\\BladeCfgDxe.efi");
  EXPECT_EQ(S.MpCalls[0].Offset, 0x1A30u);
  EXPECT_FALSE(S.MpCalls[0].SingleThread);
  ASSERT_EQ(R.PciIo.size(), 2u);
  EXPECT_EQ(R.PciIo[1].Location, "01:00.0");
  EXPECT_EQ(R.PciIo[1].Id, 0x10D38086u);
  EXPECT_EQ(R.Connecting, std::vector<std::string>{"01:00.0"});
  ASSERT_EQ(R.Connects.size(), 1u);
  EXPECT_TRUE(R.Connects[0].Installed);
  ASSERT_EQ(R.HarnessExecutes.size(), 1u);
  EXPECT_EQ(R.HarnessExecutes[0].StatusWord, 0x0E00u);
  ASSERT_EQ(R.ReadyWaits.size(), 1u);
  EXPECT_EQ(R.ReadyWaits[0].first, 1300u);
  ASSERT_EQ(R.MpRuns.size(), 1u);
  EXPECT_EQ(R.MpRuns[0].Ran, 3u);
}

TEST(Report, ACutOffOrDamagedReportIsIncomplete) {
  const std::string Full = Written(FullReport);
  const std::string Cases[] = {
      "",                                            // QEMU never reached the harness
      Full.substr(0, Full.find("codes")),            // stopped mid-run
      Full.substr(0, Full.rfind("end")) + "end 3\n", // lines lost on the way
      Full + "begin\n",                              // something after the end
      "begin\nfru entry 1 512 0 00\nend 1\n",        // a read-back of no snapshot
      "begin\nload \\X.efi 0 0 7\nend 1\n",          // resident must be 0 or 1
      "begin\nclock a 1 2\nend 1\n",                 // a clock line has three numbers
      "begin\nsnapshot a\nexecs a 1\nexec a 1 - 0 0 0 0 0 0 -\nend 3\n", // index 0 missing
      "begin\nsnapshot a\nexec a 0 - 0 2 0 0 0 0 -\nend 2\n",            // a flag of 2
      "begin\nsnapshot a\nexec a 0 - 0 0 0 0 0 100000000 -\nend 2\n",    // word past 32 bits
      "begin\nsnapshot a\nmpcall a 0 x 1 0 0 0 0 0\nend 2\n",            // a field short
      "begin\npciio 1 0 00:02.0 000c1b36 0\nend 1\n",                    // starts at 1
      "begin\nconnect 01:00.0 0\nend 1\n",                               // no installed flag
  };
  for (const std::string& Text : Cases) {
    EXPECT_FALSE(fw::ParseReport(Text).Complete()) << Text;
  }
}

TEST(SmbiosRecordSize, CountsFormattedAreaStringsAndTheClosingNul) {
  struct Case {
    std::vector<uint8_t> Bytes;
    UINTN Expected;
  };
  const Case Cases[] = {
      {{1, 4, 0, 1, 0, 0}, 6},                       // no strings: two NULs
      {{1, 5, 0, 1, 7, 'A', 'b', 0, 'C', 0, 0}, 11}, // two strings
      {{1, 5, 0, 1, 7, 'A', 'b', 0, 'C', 0}, 0},     // the set never ends
      {{1, 3, 0, 1, 0, 0}, 0},                       // formatted area shorter than a header
      {{1, 6, 0, 1}, 0},                             // cut inside the formatted area
  };
  for (const Case& C : Cases) {
    EXPECT_EQ(SmbiosRecordSize(C.Bytes.data(), C.Bytes.size()), C.Expected);
  }
  EXPECT_EQ(SmbiosRecordHandle(Cases[0].Bytes.data()), 0x0100);
}

} // namespace
