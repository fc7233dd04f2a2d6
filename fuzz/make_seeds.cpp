// Writes the seed corpus of a fuzz target. The platform target's seeds are blades that each start
// the fuzzer somewhere worth going, from a clean run of 32 commands to a BMC that lies, a variable
// that is missing or a pool that runs dry.
//
//   make-seeds [TARGET] DIR      # one file per seed, named after what it holds; TARGET platform
//                                # (the default), adapter or rewrite
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/blade_input.h"
#include "fuzz/seeds.h"
#include "mailbox_format/mailbox_image.h"

namespace {

namespace mf = mailbox_format;
using fuzz::BladeInput;
using fuzz::BmcKind;

// Hand-written facts of the blade: where ClpFailurePause sits in TalBladeData, and the variables by
// their number in the input.
constexpr uint16_t ClpFailurePauseByte = 276;
constexpr uint8_t TalBladeData = 0, SystemSetup = 1, ServerSetup = 2, ClpFailureFlag = 3;

std::vector<mf::MailboxCommand> Commands(const std::vector<std::string>& Keywords,
                                         const char* Prefix = "SET BOOTCFGSETTING1 ") {
  std::vector<mf::MailboxCommand> Out;
  for (const std::string& K : Keywords) {
    Out.push_back({static_cast<UINT16>(0x0100 + Out.size() + 1), Prefix + K});
  }
  return Out;
}

fuzz::FruSection Fru(uint8_t Id, const mf::MailboxImage& Image) {
  return fuzz::MailboxSection(Id, Image);
}

mf::MailboxImage Mailbox(std::vector<mf::MailboxCommand> List, size_t Size = 4096) {
  mf::MailboxImage Image;
  Image.Size = Size;
  Image.Lists[0] = mf::MailboxList{std::move(List), true, std::nullopt};
  return Image;
}

BladeInput Blade(const mf::MailboxImage& Image, uint8_t FruId = 1) {
  BladeInput In;
  In.Frus.push_back(Fru(FruId, Image));
  In.VariablePatches.push_back({TalBladeData, ClpFailurePauseByte, {1}});
  return In;
}

fuzz::BmcBehaviour At(uint16_t Request, BmcKind Kind, uint8_t Parameter = 0, uint16_t Offset = 0,
                      uint8_t Value = 0) {
  return fuzz::BmcBehaviour{Request, Kind, Parameter, 1, Offset, Value};
}

const std::vector<std::string> Twelve = {"OEMTAL_LOM1=ENABLE",
                                         "OEMTAL_LOM2=DISABLE",
                                         "OEMTAL_MEZ1=ENABLE",
                                         "OEMTAL_IPL1=PCI",
                                         "OEMTAL_ISCSI=ENABLE",
                                         "OEMTAL_SIO2=ENABLE",
                                         "OEMTAL_IOV1_BUS1=ENABLE",
                                         "OEMTAL_LOM9=ENABLE",
                                         "OEMTAL_UUID=00112233445566778899AABBCCDDEEFF",
                                         "OEMTAL_SERIAL=SN4711BLADE",
                                         "OEMTAL_PXEPERMANENTADDRESS=ENABLE",
                                         "OEMTAL_FCOE=0000BEEF"};

// Every kind of platform keyword: devices (gated and not), boot order, storage modes, RAID,
// permanent addresses, Setup bytes that reset and those that do not, power restore, cores,
// identity, failure pauses.
const std::vector<std::string> EveryKind = {"OEMTAL_LOM1=ENABLE",
                                            "OEMTAL_LOM3=DISABLE",
                                            "OEMTAL_MEZ1=DISABLE",
                                            "OEMTAL_FCPERMANENTADDRESS11=ENABLE",
                                            "OEMTAL_IPL1=NETWORK",
                                            "OEMTAL_ISCSI=DISABLE",
                                            "OEMTAL_SWRAID=ENABLE",
                                            "OEMTAL_SAS=DISABLE",
                                            "OEMTAL_SIO1=DISABLE",
                                            "OEMTAL_SIO2=DISABLE",
                                            "OEMTAL_SIO1DAC=ENABLE",
                                            "OEMTAL_ACLINK=STAYON",
                                            "OEMTAL_ACTIVECORE=ALL",
                                            "OEMTAL_ACTIVECORE=2",
                                            "OEMTAL_NUMA=ENABLE",
                                            "OEMTAL_UUID=00112233445566778899AABBCCDDEEFF",
                                            "OEMTAL_SERIAL=SN0123456789",
                                            "OEMTAL_DEFAULT",
                                            "DEFAULT",
                                            "OEMTAL_IOV2_BUS4=DISABLE",
                                            "OEMTAL_CONREDIRECT=ENABLE",
                                            "OEMTAL_FCOE=DEADBEEF",
                                            "OEMTAL_CLPFailurePause=ENABLE",
                                            "OEMTAL_EMFailurePause=ENABLE",
                                            "OEMTAL_HWRAID=ENABLE",
                                            "OEMTAL_IPL1_DEFAULT",
                                            "oemtal_mez4b=enable",
                                            "OEMTAL_NOSUCHTHING=1",
                                            "OEMTAL_LOM2=ENABLE",
                                            "OEMTAL_PXEPERMANENTADDRESS=DISABLE",
                                            "OEMTAL_SIO1=ENABLE",
                                            "OEMTAL_ACLINK=STAYOFF"};

std::vector<std::pair<std::string, BladeInput>> Seeds() {
  std::vector<std::pair<std::string, BladeInput>> S;
  auto Add = [&S](const std::string& Name, BladeInput In) { S.emplace_back(Name, std::move(In)); };

  const mf::MailboxImage Default = Mailbox(Commands(Twelve));
  Add("twelve-commands", Blade(Default));

  std::vector<mf::MailboxCommand> Full = Commands(EveryKind);
  Full[3].Text = "SET NETPORT1 OEMTAL_BOOTPROTOCOL=ISCSI";
  Full[9].Text = "SET B1 OEMTAL_SIO2=DISABLE";
  Add("every-kind", Blade(Mailbox(Full, 8192)));
  std::vector<mf::MailboxCommand> Overflow = Full;
  Overflow.push_back({0x0133, "SET B1 OEMTAL_LOM1=DISABLE"});
  Add("thirty-three", Blade(Mailbox(Overflow, 8192)));

  Add("empty-list", Blade(Mailbox({})));
  {
    mf::MailboxImage NoResults = Default;
    NoResults.ResultAreaOffset = 0;
    Add("no-result-area", Blade(NoResults));
  }
  {
    BladeInput In = Blade(Default, 2);
    In.Info.push_back({30, 1, {}});
    Add("mailbox-in-fru2", In);
    In.Info.back().Queue = {1, 0};
    Add("mailbox-moves", In);
  }
  {
    mf::MailboxImage Last = Default;
    Last.HeaderOffset = 512 + 7 * 256;
    Last.Size = 8192;
    Add("eighth-header", Blade(Last));
    BladeInput Bad = Blade(Default);
    Bad.Frus[0].KeepChecksum = true;
    Bad.Frus[0].Bytes[mf::ChecksumWordField] ^= 0x5A;
    Add("bad-checksum", Bad);
  }
  {
    // A text with no NUL in 256 bytes, and a list that runs off the end of its device.
    BladeInput In = Blade(Mailbox({{1, "SET B1 OEMTAL_NUMA=ENABLE"}, {2, std::string(250, 'A')}}));
    In.Frus[0].Bytes.resize(In.Frus[0].Bytes.size() - 2);
    In.FruPatches.push_back({1, 0x0270, std::vector<uint8_t>(40, 'B')});
    Add("unterminated-text", In);
    BladeInput Off = Blade(Default);
    Off.Frus[0].Size = 720;
    Add("list-off-the-device", Off);
  }
  {
    // List 0 at 0xFFE8 of a full 64 KiB device, running over the top to offset 0: offsets wrap.
    BladeInput In = Blade(Mailbox({}, 65536));
    In.Frus[0].Bytes[mf::ListOffsetField] = 0xFF;
    In.Frus[0].Bytes[mf::ListOffsetField + 1] = 0xE8;
    const std::vector<uint8_t> List = mf::EncodeCommandList(
        Commands({"OEMTAL_NUMA=ENABLE", "OEMTAL_LOM1=ENABLE", "OEMTAL_IPL1=USB"}), true);
    In.FruPatches.push_back({1, 0xFFE8, std::vector<uint8_t>(List.begin(), List.begin() + 24)});
    In.FruPatches.push_back({1, 0x0000, std::vector<uint8_t>(List.begin() + 24, List.end())});
    Add("offsets-wrap", In);
  }

  auto WithBmc = [&](const std::string& Name, std::vector<fuzz::BmcBehaviour> Behaviours,
                     const mf::MailboxImage& Image) {
    BladeInput In = Blade(Image);
    In.Bmc = std::move(Behaviours);
    Add(Name, In);
  };
  WithBmc("busy-nine", {At(5, BmcKind::BusyRun, 9)}, Default);
  WithBmc("busy-ten", {At(5, BmcKind::BusyRun, 10)}, Default);
  WithBmc("busy-on-writes", {At(9, BmcKind::BusyRun, 3), At(30, BmcKind::BusyRun, 12)}, Default);
  WithBmc("completion-codes",
          {At(3, BmcKind::Completion, 0xCB), At(20, BmcKind::Completion, 0xC0),
           At(40, BmcKind::Completion, 0xFF)},
          Default);
  WithBmc("transport-errors",
          {At(12, BmcKind::TransportError, 1), At(50, BmcKind::TransportError, 15)}, Default);
  WithBmc("short-answer", {At(14, BmcKind::ShortAnswer)}, Default);
  WithBmc("lying-count", {At(14, BmcKind::LyingCount), At(40, BmcKind::CountAboveRequest)},
          Default);
  WithBmc("different-data", {At(2, BmcKind::DifferentData), At(11, BmcKind::DifferentData)},
          Default);
  WithBmc("longer-than-buffer",
          {At(13, BmcKind::LongerThanBuffer), At(8, BmcKind::LongerThanBuffer)}, Default);
  WithBmc("write-not-stored", {At(6, BmcKind::WriteNotStored), At(18, BmcKind::WriteNotStored)},
          Default);
  // Between an id read and its text read, and between two executions of a retried command.
  WithBmc(
      "write-between-id-and-text",
      {At(12, BmcKind::WriteBefore, 0, 0x0240, 'X'), At(30, BmcKind::WriteBefore, 0, 0x0221, 0)},
      Default);
  WithBmc("lock-held-a-while", {At(0, BmcKind::HoldsLock, 12)}, Default);
  WithBmc("lock-held-past-the-timeout", {At(0, BmcKind::HoldsLock, 255)}, Default);
  WithBmc("lock-turn-handed-back", {At(0, BmcKind::HandsTurnBack, 2)}, Default);
  WithBmc("lock-yielded", {At(0, BmcKind::YieldsWhenAsked, 5)}, Default);
  WithBmc("lock-taken-while-held", {At(0, BmcKind::TakesLock, 3)}, Default);
  WithBmc("slow-bmc", {At(4, BmcKind::Slow, 30), At(10, BmcKind::Slow, 200)}, Default);
  WithBmc("bmc-writes-over-time", {At(0, BmcKind::WriteAtTime, 1, 0x0226, 0xFF)}, Default);
  {
    BladeInput In = Blade(Default);
    In.RequestCost = 50;
    Add("costly-requests", In);
  }

  const mf::MailboxImage Resetting =
      Mailbox(Commands({"OEMTAL_NUMA=ENABLE", "OEMTAL_LOM9=ENABLE", "OEMTAL_ACLINK=STAYON"}));
  {
    BladeInput In = Blade(Resetting);
    Add("reset-after-a-failing-command", In);
    In.Bmc = {At(16, BmcKind::Completion, 0xC1)};
    Add("power-restore-refused", In);
  }
  {
    BladeInput In = Blade(Default);
    In.Variables.push_back({TalBladeData, false, 0, 0, {}});
    Add("no-tal-blade-data", In);
    In.Variables = {{SystemSetup, true, 0, 100, {}}, {ServerSetup, true, 0, 400, {}}};
    Add("setup-of-wrong-sizes", In);
    In.Variables = {{ClpFailureFlag, true, 0, 1, {1}}, {ServerSetup, true, 3, 102, {}}};
    Add("failure-flag-set-and-odd-attributes", In);
  }
  {
    BladeInput In = Blade(Resetting);
    In.PoolFailures = {{1, 4}};
    Add("pool-fails-first", In);
    In.PoolFailures = {{4, 4}, {9, 0}};
    Add("pool-fails-later", In);
  }
  {
    BladeInput In = Blade(Default);
    In.VariableFailures = {{TalBladeData, false, 3, 1, 0}, {SystemSetup, true, 1, 0, 12}};
    Add("variable-failures", In);
    In.VariableFailures.clear();
    In.AccessFailures = {{7, 0, 0}, {3, 2, 4}};
    Add("access-failures", In);
  }
  {
    BladeInput In = Blade(Default);
    In.Info = {{29, 1, {0xF0}}, {30, 0, {0, 0xF3}}};
    Add("platform-answers-change", In);
    In.Info.clear();
    In.MissingProtocols = 4;
    Add("no-status-code-protocol", In);
    In.MissingProtocols = 2;
    Add("no-platform-information", In);
  }
  {
    BladeInput In = Blade(Mailbox(Commands({"OEMTAL_ACTIVECORE=ALL", "OEMTAL_ACTIVECORE=3"})));
    In.HasProcessor = true;
    In.ThreadsPerCore = 2;
    In.CoresPerPackage = 6;
    In.MaxCpuidLeaf = 0x0A;
    Add("no-topology-leaf", In);
    In.MaxCpuidLeaf = 0x0B;
    In.ThreadsPerCore = 0;
    Add("no-threads", In);
  }
  {
    BladeInput In = Blade(Default);
    In.Inputs = 2;
    In.CompletionSignal = false;
    Add("adapters-not-ready-no-completion", In);
  }
  return S;
}

} // namespace

namespace fuzz {

FruSection MailboxSection(uint8_t Id, const mf::MailboxImage& Image) {
  const std::vector<uint8_t> Bytes = mf::EncodeMailboxImage(Image);
  const mf::MailboxLayout Layout = mf::PlaceMailbox(Image);
  FruSection F;
  F.Id = Id;
  F.Slot = static_cast<uint8_t>((Image.HeaderOffset - mf::MailboxFirstOffset) / mf::MailboxStride);
  F.Size = static_cast<uint32_t>(Image.Size);
  F.Fill = Image.Fill;
  F.Bytes.assign(Bytes.begin() + Image.HeaderOffset,
                 Bytes.begin() + std::max<size_t>(Layout.End, Image.HeaderOffset + 31));
  return F;
}

std::vector<Seed> PlatformSeeds() {
  std::vector<Seed> Out;
  for (const auto& [Name, Input] : Seeds()) {
    Out.push_back({Name, Encode(Input)});
  }
  return Out;
}

} // namespace fuzz

int main(int argc, char** argv) {
  const std::string Target = argc == 3 ? argv[1] : "platform";
  const std::vector<fuzz::Seed> Seeds = Target == "platform"  ? fuzz::PlatformSeeds()
                                        : Target == "adapter" ? fuzz::AdapterSeeds()
                                        : Target == "rewrite" ? fuzz::RewriteSeeds()
                                                              : std::vector<fuzz::Seed>{};
  if ((argc != 2 && argc != 3) || Seeds.empty()) {
    std::fprintf(stderr, "usage: make-seeds [platform|adapter|rewrite] DIR\n");
    return 2;
  }
  const std::string Dir = argv[argc - 1];
  for (const fuzz::Seed& S : Seeds) {
    std::ofstream Out(Dir + "/" + S.Name, std::ios::binary);
    Out.write(reinterpret_cast<const char*>(S.Bytes.data()),
              static_cast<std::streamsize>(S.Bytes.size()));
    if (!Out) {
      std::fprintf(stderr, "make-seeds: cannot write %s\n", S.Name.c_str());
      return 1;
    }
  }
  return 0;
}
