// bladecfg-mailbox check: a mailbox read as the host reads it, each command classified by the
// driver's own rules, and what will fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "mailbox_format/mailbox_image.h"
#include "sim/blade.h"
#include "tools/mailbox_check.h"

namespace {

namespace mf = mailbox_format;
using tools::CheckLevel;

mf::MailboxList List(const std::vector<std::string>& Texts, UINT16 FirstId = 1) {
  mf::MailboxList L;
  for (size_t I = 0; I < Texts.size(); ++I) {
    L.Commands.push_back({static_cast<UINT16>(FirstId + I), Texts[I]});
  }
  return L;
}

std::vector<uint8_t> Image(mf::MailboxImage Image) {
  return mf::EncodeMailboxImage(Image);
}

std::vector<uint8_t> PlatformList(const std::vector<std::string>& Texts) {
  mf::MailboxImage M;
  M.Lists[0] = List(Texts);
  return Image(M);
}

// Every finding of the check, the mailbox's and the commands', as one text.
std::string AllFindings(const tools::MailboxCheckResult& R, CheckLevel Level) {
  std::string Text;
  for (const tools::CheckFinding& F : R.Findings) {
    Text += F.Level == Level ? F.Text + "\n" : "";
  }
  for (const tools::CheckedCommand& C : R.Commands) {
    for (const tools::CheckFinding& F : C.Findings) {
      Text += F.Level == Level ? F.Text + "\n" : "";
    }
  }
  return Text;
}

std::string Routes(const tools::CheckedCommand& C) {
  std::string Text;
  for (const tools::CommandRoute& R : C.Routes) {
    Text += R.Executor + ": " + R.Outcome + "\n";
  }
  return Text;
}

// Points the header at 0x200 to another result area, its checksum kept.
void SetResultArea(std::vector<uint8_t>& B, UINT16 Offset) {
  B[0x200 + 24] = static_cast<uint8_t>(Offset >> 8);
  B[0x200 + 25] = static_cast<uint8_t>(Offset);
  UINT16 Sum = 0;
  for (size_t I = 0; I < 26; I += 2) {
    Sum = static_cast<UINT16>(Sum + (B[0x200 + I] << 8 | B[0x200 + I + 1]));
  }
  const UINT16 Seal = static_cast<UINT16>(0x10000 - Sum);
  B[0x200 + 26] = static_cast<uint8_t>(Seal >> 8);
  B[0x200 + 27] = static_cast<uint8_t>(Seal);
}

struct FailureCase {
  const char* Name;
  std::function<std::vector<uint8_t>()> Device;
  UINT8 FruId;
  const char* Finding; // a failure whose text holds this; nullptr: nothing fails
};

std::vector<uint8_t> WithRaw(mf::MailboxImage M, size_t Offset, const std::vector<uint8_t>& Bytes) {
  M.Raw.push_back({Offset, Bytes});
  return Image(M);
}

// A list whose header entry points at Offset, its bytes given raw.
mf::MailboxImage ListAt(UINT16 Offset, size_t Size = 4096) {
  mf::MailboxImage M;
  M.Size = Size;
  M.Lists[0] = mf::MailboxList{{}, false, Offset};
  M.ResultAreaOffset = 0x400;
  return M;
}

std::vector<uint8_t> Record(UINT16 Id, const std::string& Text, bool Nul = true) {
  std::vector<uint8_t> B(Text.size() + 2);
  B[0] = static_cast<uint8_t>(Id >> 8);
  B[1] = static_cast<uint8_t>(Id);
  std::copy(Text.begin(), Text.end(), B.begin() + 2);
  if (Nul) {
    B.push_back(0);
  }
  return B;
}

const FailureCase Cases[] = {
    {"known platform keywords and a port line",
     [] {
       return PlatformList({"SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE", "set b1 oemtal_numa=enable",
                            "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"});
     },
     1, nullptr},
    {"a gated keyword only warns", [] { return PlatformList({"SET B1 OEMTAL_LOM3=ENABLE"}); }, 1,
     nullptr},
    {"exactly 32 commands",
     [] { return PlatformList(std::vector<std::string>(32, "SET B1 DEFAULT")); }, 1, nullptr},
    {"an unknown keyword", [] { return PlatformList({"SET B1 OEMTAL_LOM9=ENABLE"}); }, 1,
     "no platform keyword begins \"OEMTAL_LOM9=ENABLE\""},
    {"a keyword that is always refused",
     [] { return PlatformList({"SET B1 OEMTAL_SIO2=DISABLE"}); }, 1, "always refused"},
    {"33 commands", [] { return PlatformList(std::vector<std::string>(33, "SET B1 DEFAULT")); }, 1,
     "more than 32 commands: from command 32"},
    {"the result area over the list",
     [] {
       mf::MailboxImage M;
       M.Lists[0] = List({"SET B1 DEFAULT", "SET B1 DEFAULT"});
       M.Lists[0]->Offset = 0x240;
       M.ResultAreaOffset = 0x300;
       std::vector<uint8_t> B = Image(M);
       SetResultArea(B, 0x248);
       return B;
     },
     1, "overwrite list 0"},
    {"a text without a NUL in 256 bytes",
     [] {
       return WithRaw(ListAt(0x240), 0x240,
                      Record(1, "SET B1 OEMTAL_SERIAL=" + std::string(280, 'X')));
     },
     1, "no NUL within 256 bytes"},
    // The text ends inside the device, but the host reads it in whole requests of 16 bytes.
    {"a text read past the device's end",
     [] { return WithRaw(ListAt(0xFF2), 0xFF2, Record(1, "SET B1 X")); }, 1,
     "the request for 16 bytes at 0x0FF4 reaches past the end of the 4096-byte FRU device"},
    {"a list that wraps past offset 0xFFFF",
     [] { return WithRaw(ListAt(0xFFF0, 65536), 0xFFF0, Record(1, "SET B1 DEFAULT", false)); }, 1,
     "runs past FRU offset 0xFFFF and wraps to 0x0000"},
    {"no result area",
     [] {
       mf::MailboxImage M;
       M.Lists[0] = List({"SET B1 DEFAULT"});
       M.ResultAreaOffset = 0;
       return Image(M);
     },
     1, "ResultAreaOffset is 0"},
    {"a bad checksum",
     [] {
       mf::MailboxImage M;
       M.Lists[0] = List({"SET B1 DEFAULT"});
       M.ChecksumWord = 0x1234;
       return Image(M);
     },
     1, "bad checksum"},
    {"no header", [] { return std::vector<uint8_t>(4096, 0); }, 1, "no mailbox"},
    {"a FRU device nobody reads", [] { return PlatformList({"SET B1 DEFAULT"}); }, 9,
     "no executor reads FRU device 9"},
};

TEST(MailboxCheck, FailsExactlyWhereTheHostWill) {
  for (const FailureCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const tools::MailboxCheckResult R = tools::CheckMailbox(Case.Device(), Case.FruId);
    const std::string Failures = AllFindings(R, CheckLevel::Failure);
    if (Case.Finding == nullptr) {
      EXPECT_FALSE(R.WillFail()) << Failures;
    } else {
      EXPECT_TRUE(R.WillFail());
      EXPECT_NE(Failures.find(Case.Finding), std::string::npos) << Failures;
    }
  }
}

TEST(MailboxCheck, ClassifiesPlatformLinesAsThePlatformPassDoes) {
  const auto R = tools::CheckMailbox(
      PlatformList({"set b1 oemtal_numa=enable", "SET BOOTCFGSETTING1 OEMTAL_ACTIVECORE=4",
                    "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE", "SET B1OEMTAL_NUMA=ENABLE",
                    "SET B1 OEMTAL_LOM3=ENABLE"}),
      1);
  ASSERT_EQ(R.Commands.size(), 5u);
  EXPECT_EQ(R.Commands[0].Kind, "platform keyword");
  EXPECT_EQ(R.Commands[0].Detail, "OEMTAL_NUMA=ENABLE (code 61)");
  EXPECT_NE(Routes(R.Commands[0]).find("resets the system"), std::string::npos);
  EXPECT_EQ(R.Commands[1].Detail, "OEMTAL_ACTIVECORE= (code 60)");
  EXPECT_NE(Routes(R.Commands[1]).find("value \"4\""), std::string::npos);
  EXPECT_EQ(R.Commands[2].Kind, "adapter port command");
  EXPECT_NE(Routes(R.Commands[2]).find("platform pass: left to the adapters"), std::string::npos);
  // Without the blank behind "B1" it is no platform command at all.
  EXPECT_EQ(R.Commands[3].Kind, "not recognised");
  EXPECT_NE(AllFindings(R, CheckLevel::Warning).find("refused (0xF502) on a platform whose"),
            std::string::npos);
}

TEST(MailboxCheck, ShowsWhatEachAdapterPositionReceives) {
  mf::MailboxImage M;
  M.Lists[0] = List({"SET NETPORT3 OEMTAL_BOOTENABLE=ENABLE", "SET N2 OEMQX_BOOTENABLE=enable",
                     "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF"});
  M.Lists[1] = List({"SET B1 OEMTAL_SERIAL=SN9", "SET B1 OEMTAL_NUMA=ENABLE"}, 0x10);
  const auto R = tools::CheckMailbox(Image(M), 5);
  ASSERT_EQ(R.Commands.size(), 5u);
  // Port 3 of FRU device 5: function 2 behind 00:03.0 or function 0 behind 00:03.1.
  const std::string Port3 = Routes(R.Commands[0]);
  EXPECT_NE(Port3.find("vendor 0x8086: row 8 (bridge 00:03.0, function 2), row 10 (bridge "
                       "00:03.1, function 0) receive \"SET BootEnable=ENABLE\""),
            std::string::npos)
      << Port3;
  EXPECT_NE(Port3.find("vendor 0x14E4: row 8 (bridge 00:03.0, function 2) receives \"SET "
                       "NETPORT1 OEMTAL_BOOTENABLE=ENABLE\""),
            std::string::npos)
      << Port3;
  EXPECT_NE(Routes(R.Commands[1]).find("receives \"Set BootEnable=iSCSI\""), std::string::npos);
  EXPECT_NE(Routes(R.Commands[2]).find("resets after the run on devices 0x16A4 0x16AE"),
            std::string::npos)
      << Routes(R.Commands[2]);
  EXPECT_EQ(R.Commands[3].Kind, "platform setting in an adapter list");
  EXPECT_NE(Routes(R.Commands[3]).find("follows the arrival wait"), std::string::npos);
  EXPECT_NE(Routes(R.Commands[4]).find("no effect; not sent"), std::string::npos);
  EXPECT_FALSE(R.WillFail()) << AllFindings(R, CheckLevel::Failure);
}

TEST(MailboxCheck, WarnsAboutIdsThatNameTwoCommands) {
  mf::MailboxImage M;
  M.Lists[0] = List({"SET N1 OEMTAL_BOOTENABLE=ENABLE"});
  M.Lists[1] = List({"SET N2 OEMTAL_BOOTENABLE=ENABLE"});
  const auto R = tools::CheckMailbox(Image(M), 4);
  EXPECT_NE(AllFindings(R, CheckLevel::Warning).find("id 0x0001 names command 0 of list 1"),
            std::string::npos);
}

// The texts the check says the adapter of Row of Vendor (0: any other vendor) receives, in order.
std::vector<std::string> Delivered(const tools::MailboxCheckResult& R, UINT16 Vendor, UINT8 Row) {
  std::vector<std::string> Texts;
  for (const tools::CheckedCommand& C : R.Commands) {
    for (const tools::AdapterDelivery& D : C.Deliveries) {
      if (D.Vendor == Vendor && D.Row == Row) {
        Texts.push_back(D.Text);
      }
    }
  }
  return Texts;
}

// What the adapter at Function behind bridge 00:02.0, alone in a blade, receives at its arrival
// from the mailbox in FRU device 4; vendors with a pending mask have its bit pending.
std::vector<std::string> Received(const std::vector<uint8_t>& Device, UINT16 Vendor,
                                  UINT8 Function) {
  sim::Blade Blade;
  Blade.Pci.Bridge("00:02.0", 0x02);
  // The adapter's device has every function up to Function: without function 0 it is not there.
  for (UINT8 F = 0; F <= Function; ++F) {
    Blade.Pci.Function(sim::PciAddress(0x02, 0, F), Vendor, 0x1000);
  }
  Blade.Bmc.AddFruDevice(1, 4096);
  Blade.Bmc.AddFruDevice(4, Device.size());
  Blade.Bmc.WriteFru(4, 0, Device);
  const sim::VariableSpec& V = sim::vars::TalBladeData;
  std::vector<uint8_t> Data(V.Size, 0);
  const size_t MaskField = Vendor == 0x8086 ? 188 : 172;    // PendingMask8086, PendingMask14E4
  Data[MaskField] = static_cast<uint8_t>(0x04 << Function); // rows 2 to 5
  Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, Data);
  sim::AdapterDriver& Driver = Blade.Adapters.Add();
  Blade.LoadDriver();
  Blade.StartAdapter(Driver, sim::PciAddress(0x02, 0, Function));
  return Driver.Texts();
}

// The rewriting the check calls is the adapter run's own: every position of FRU device 4 receives,
// for each vendor, what the check says, also past a list that holds a 33rd command.
TEST(MailboxCheck, SaysWhatTheAdapterRunSends) {
  mf::MailboxImage Mixed;
  Mixed.Lists[0] =
      List({"SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", "SET N2 OEMQX_BOOTENABLE=DISABLE",
            "SET B1 OEMTAL_NUMA=ENABLE", "SET NETPORT3 OEMTAL_INITIATORADDRESSORIGIN=4",
            "HELLO ADAPTER", "SET NETPORT4 OEMTAL_MULTIFUNCTIONMODE=SF"});
  Mixed.Lists[2] = List(
      {"SET NETPORT2 OEMTAL_BOOTPRIORITY=DISABLE", "SET N1 OEMTAL_EXPANSIONROMMENU=ENABLE"}, 0x20);
  mf::MailboxImage Overflowing;
  Overflowing.Size = 8192;
  std::vector<std::string> Long;
  for (int I = 0; I < 33; ++I) {
    Long.push_back("SET NETPORT" + std::to_string(1 + I % 4) + " OEMTAL_BOOTENABLE=ENABLE");
  }
  Overflowing.Lists[0] = List(Long);
  Overflowing.Lists[1] = List({"SET NETPORT1 OEMTAL_BOOTPRIORITY=DISABLE"}, 0x40);

  for (const mf::MailboxImage* M : {&Mixed, &Overflowing}) {
    const std::vector<uint8_t> Device = Image(*M);
    const tools::MailboxCheckResult R = tools::CheckMailbox(Device, 4);
    for (const UINT16 Vendor : {0x8086, 0x14E4, 0x15B3}) {
      for (UINT8 Function = 0; Function < 4; ++Function) {
        SCOPED_TRACE(testing::Message()
                     << "vendor " << std::hex << Vendor << ", function " << int(Function)
                     << ", mailbox of " << R.Commands.size() << " commands");
        const std::vector<std::string> Sent = Received(Device, Vendor, Function);
        EXPECT_FALSE(Sent.empty());
        EXPECT_EQ(Delivered(R, Vendor == 0x15B3 ? 0 : Vendor, static_cast<UINT8>(2 + Function)),
                  Sent);
      }
    }
  }
}

} // namespace
