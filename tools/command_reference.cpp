#include "tools/command_reference.h"

#include <sstream>
#include <stdexcept>

#include "adapter/adapter_arrival.h"
#include "adapter/adapter_run.h"
#include "adapter/keyword_map.h"
#include "adapter/npar_restore.h"
#include "adapter/slot_table.h"
#include "adapter/vendors.h"
#include "core/byte_format.h"
#include "core/failure.h"
#include "core/ipmi.h"
#include "core/variables.h"
#include "hw/input_levels.h"
#include "mailbox/mailbox.h"
#include "mailbox_format/hex_text.h"
#include "platform/command_status.h"
#include "platform/keyword_actions.h"
#include "platform/keyword_table.h"
#include "platform/text.h"
#include "tools/adapter_probe.h"
#include "tools/variable_fields.h"

namespace tools {

namespace {

using Json = nlohmann::ordered_json;
using mailbox_format::HexNumber;

// A field of a platform variable by the offset the driver's action names; a field the tools do not
// know by name stops the generation, so that no row is described by a bare number.
const VariableField& FieldAt(const std::string& Variable, size_t Offset) {
  if (const KnownVariable* Var = FindVariable(Variable)) {
    for (const VariableField& F : Var->Fields) {
      if (F.Offset == Offset) {
        return F;
      }
    }
  }
  throw std::logic_error(Variable + " has no named field at offset " + std::to_string(Offset));
}

// A mask and the names of the bit groups that make it up; every bit must belong to a named group.
std::string NamedBits(const VariableField& F, uint32_t Mask) {
  std::string Names;
  uint32_t Covered = 0;
  for (const FieldBits& B : F.Bits) {
    if ((Mask & B.Mask) == B.Mask) {
      Names += (Names.empty() ? "" : ", ") + std::string(B.Name);
      Covered |= B.Mask;
    }
  }
  if (Covered != Mask) {
    throw std::logic_error(std::string(F.Name) + " has bits without a name in " +
                           HexNumber(Mask, 8));
  }
  return HexNumber(Mask, static_cast<int>(F.Size * 2)) + " (" + Names + ")";
}

std::string BitGroupNames(const VariableField& F, uint32_t Mask) {
  const std::string Text = NamedBits(F, Mask);
  return Text.substr(Text.find('(') + 1, Text.size() - Text.find('(') - 2);
}

// The settings an adapter list may hold take effect only in the run after the arrival wait.
const std::string AfterArrivalWait = "carried out in the adapter run that follows the arrival wait";

// What one keyword does, as the reference tells it.
struct Effect {
  Json Changes = Json::array();
  std::string Summary;
  std::string Resets = "never";
  std::string ValueText; // what follows a keyword that ends in "="
  std::string AdapterList = "no effect; not sent to the adapter";
};

void AddChange(Effect& E, const std::string& Variable, size_t Offset, const std::string& Operation,
               const std::string& Value) {
  const VariableField& F = FieldAt(Variable, Offset);
  E.Changes.push_back({{"variable", Variable},
                       {"field", F.Name},
                       {"offset", Offset},
                       {"size", F.Size},
                       {"operation", Operation},
                       {"value", Value}});
}

const VariableField& DeviceMask() {
  return FieldAt("TalBladeData", TalBladeField::DeviceEnableMask);
}

const VariableField& NetBootFlags() {
  return FieldAt("TalBladeData", TalBladeField::NetBootFlags);
}

void MoveDevices(Effect& E, uint32_t Devices, bool Enable) {
  const std::string Bits = NamedBits(DeviceMask(), Devices);
  AddChange(E, "TalBladeData", TalBladeField::DeviceEnableMask, Enable ? "set bits" : "clear bits",
            Bits);
  AddChange(E, "TalBladeData", TalBladeField::DeviceDisableMask, Enable ? "clear bits" : "set bits",
            Bits);
}

std::string HeldBack(uint16_t NetBootBit) {
  return "unless NetBootFlags " + BitGroupNames(NetBootFlags(), NetBootBit) +
         " is set (a permanent FC address keeps the card on; then nothing changes)";
}

void DescribeDevices(Effect& E, const KeywordAction& A) {
  const std::string Names = BitGroupNames(DeviceMask(), A.Devices);
  switch (A.Kind) {
  case Action::EnableDevices:
    MoveDevices(E, A.Devices, true);
    E.Summary = "enables " + Names;
    return;
  case Action::DisableDevices:
    MoveDevices(E, A.Devices, false);
    E.Summary = "disables " + Names + (A.NetBootBit != 0 ? ", " + HeldBack(A.NetBootBit) : "");
    return;
  case Action::SetNetBootFlag:
    if (A.Devices != 0) {
      MoveDevices(E, A.Devices, true);
    }
    AddChange(E, "TalBladeData", TalBladeField::NetBootFlags, "set bits",
              NamedBits(NetBootFlags(), A.NetBootBit));
    E.Summary = "sets " + BitGroupNames(NetBootFlags(), A.NetBootBit) +
                (A.Devices != 0 ? " and enables " + Names : "");
    return;
  case Action::ClearNetBootFlag:
    AddChange(E, "TalBladeData", TalBladeField::NetBootFlags, "clear bits",
              NamedBits(NetBootFlags(), A.NetBootBit));
    E.Summary = "clears " + BitGroupNames(NetBootFlags(), A.NetBootBit);
    return;
  default:
    throw std::logic_error("not a device action");
  }
}

void DescribeSio1(Effect& E, const KeywordAction& A) {
  if (A.Value != 0) {
    MoveDevices(E, Device::Lom3 | Device::Lom4 | Device::Mez3 | Device::Mez4 | Device::Mez4B, true);
    E.Summary = "enables LOM3, LOM4, MEZ3, MEZ4 and MEZ4B";
  } else {
    MoveDevices(E, Device::Lom3 | Device::Lom4, false);
    MoveDevices(E, Device::Mez3, false);
    MoveDevices(E, Device::Mez4 | Device::Mez4B, false);
    E.Summary = "disables LOM3 and LOM4; MEZ3 " + HeldBack(NetBootFlag::FcPermAddr21) +
                "; MEZ4 and MEZ4B " + HeldBack(NetBootFlag::FcPermAddr22);
  }
  AddChange(E, "SystemSetup", SystemSetupField::Sio1Dac, "store when different",
            std::to_string(A.Value));
}

void DescribeSas(Effect& E, const KeywordAction& A) {
  const std::string Plain = A.Code == KeywordSasEnable ? "2" : "1";
  AddChange(E, "SystemSetup", SystemSetupField::SasMode, "store when different",
            Plain + ", or 3 after OEMTAL_SWRAID=ENABLE");
  AddChange(E, "SystemSetup", SystemSetupField::SwRaid, "store when different",
            "0, or 1 after OEMTAL_SWRAID=ENABLE");
  E.Summary = "SAS mode, with software RAID when OEMTAL_SWRAID=ENABLE came earlier in the boot";
  E.Resets = "when SasMode changes";
}

void DescribeActiveCores(Effect& E, const KeywordAction& A) {
  const std::string Value =
      A.Kind == Action::ActiveCoreAll ? "the package's core count" : "the count of the value text";
  for (size_t Offset : {SystemSetupField::ActiveCore2, SystemSetupField::ActiveCore4,
                        SystemSetupField::ActiveCore6, SystemSetupField::ActiveCoreOther}) {
    AddChange(E, "SystemSetup", Offset,
              "store when different, if the package's core count "
              "selects this byte (2, 4, 6 or any other count)",
              Value);
  }
  E.Summary = "the number of active cores per package";
  E.Resets = "when the value changes";
  if (A.Kind == Action::ActiveCoreCount) {
    E.ValueText = "a decimal count of at most two digits; 0, no digit or more than the package "
                  "has means all cores";
  }
  E.AdapterList = AfterArrivalWait + ", else not at all; not sent to the adapter";
}

void DescribeIdentity(Effect& E, const KeywordAction& A) {
  if (A.Kind == Action::Uuid) {
    AddChange(E, "TalBladeData", TalBladeField::UuidValid, "store", "1");
    AddChange(E, "TalBladeData", TalBladeField::Uuid, "store",
              "the value text, 32 hexadecimal digits, the first pair into the last byte");
    E.Summary = "the system UUID, for other firmware to apply";
    E.ValueText = "32 hexadecimal digits without separators";
    E.AdapterList = AfterArrivalWait + " (and then also sent to the BMC and into the SMBIOS System "
                                       "Information structure), else not at all; not sent to the "
                                       "adapter";
  } else {
    AddChange(E, "TalBladeData", TalBladeField::SerialValid, "store", "1");
    AddChange(E, "TalBladeData", TalBladeField::Serial, "store",
              "the value text widened to 16-bit units, NUL-terminated when shorter than the field");
    E.Summary = "the system serial number, for other firmware to apply";
    E.ValueText = "the serial number text";
    E.AdapterList = AfterArrivalWait + ", else not at all; not sent to the adapter";
  }
}

void DescribeSpecial(Effect& E, const KeywordAction& A) {
  switch (A.Kind) {
  case Action::Sas:
    DescribeSas(E, A);
    return;
  case Action::SetSwRaidRequested:
    E.Summary = std::string(A.Value != 0 ? "asks for" : "withdraws") +
                " software RAID for the OEMTAL_SAS keywords later in the same boot; no variable "
                "changes";
    return;
  case Action::Sio1:
    DescribeSio1(E, A);
    return;
  case Action::AcLink:
    AddChange(E, "ServerSetup", ServerSetupField::AcLink, "store when different",
              std::to_string(A.Value));
    AddChange(E, "SystemSetup", SystemSetupField::AcLinkCache, "store when different",
              "the power-restore policy sent to the BMC");
    E.Summary = "the power-restore policy; when it changes, the BMC is sent Set Power Restore "
                "Policy (chassis request 0x06)";
    E.Resets = "when AcLink changes";
    return;
  case Action::ActiveCoreAll:
  case Action::ActiveCoreCount:
    DescribeActiveCores(E, A);
    return;
  case Action::Uuid:
  case Action::Serial:
    DescribeIdentity(E, A);
    return;
  case Action::ConRedirect:
    AddChange(E, "SystemSetup", SystemSetupField::ConRedirect, "store when different",
              std::to_string(A.Value));
    AddChange(E, "SystemSetup", SystemSetupField::ConRedirectAux1, "store with ConRedirect", "0");
    AddChange(E, "SystemSetup", SystemSetupField::ConRedirectAux2, "store with ConRedirect",
              A.Value != 0 ? "1" : "0");
    E.Summary = std::string("console redirection ") + (A.Value != 0 ? "on" : "off");
    E.Resets = "when ConRedirect changes";
    return;
  case Action::Fcoe:
    AddChange(E, "TalBladeData", TalBladeField::FcoeValue, "store",
              "the value text as a hexadecimal number");
    AddChange(E, "TalBladeData", TalBladeField::NetBootFlags, "store bits 0-3",
              HexNumber(StorageBootFcoe, 1) + " (FCoE)");
    E.Summary = "boots from FCoE with this value";
    E.ValueText = "up to 8 hexadecimal digits; the first other character ends the number";
    return;
  case Action::EmFailurePause:
    E.Summary = "reports the status code " + HexNumber(EmFailurePauseCode, 8) +
                " (EFI_ERROR_CODE) every time, whatever ClpFailurePause says; no variable changes";
    return;
  default:
    throw std::logic_error("not a special action");
  }
}

// Every kind has its case, so that a new kind fails to compile here until it is described.
Effect Describe(const KeywordAction& A) {
  Effect E;
  switch (A.Kind) {
  case Action::NoChange:
    E.Summary = "accepted; nothing changes";
    break;
  case Action::Refuse:
    E.Summary = "always refused; nothing changes";
    break;
  case Action::EnableDevices:
  case Action::DisableDevices:
  case Action::SetNetBootFlag:
  case Action::ClearNetBootFlag:
    DescribeDevices(E, A);
    break;
  case Action::SetIpl1Device:
    AddChange(E, "TalBladeData", TalBladeField::Ipl1Device, "store", std::to_string(A.Value));
    E.Summary = "first boot device " + std::to_string(A.Value);
    break;
  case Action::SetStorageBootMode:
    AddChange(E, "TalBladeData", TalBladeField::NetBootFlags, "store bits 0-3",
              HexNumber(A.Value, 1));
    AddChange(E, "TalBladeData", TalBladeField::FcoeValue, "store", "0");
    E.Summary = std::string("iSCSI boot ") + (A.Value == StorageBootIscsiOn ? "on" : "off");
    break;
  case Action::SetSystemSetupByte:
    AddChange(E, "SystemSetup", A.Offset, "store when different", std::to_string(A.Value));
    E.Summary =
        std::string(FieldAt("SystemSetup", A.Offset).Name) + " " + (A.Value != 0 ? "on" : "off");
    E.Resets = A.Reset ? "when the value changes" : "never";
    break;
  case Action::SetClpFailurePause:
    AddChange(E, "TalBladeData", TalBladeField::ClpFailurePause, "store", std::to_string(A.Value));
    E.Summary = std::string("failure reports ") + (A.Value != 0 ? "on" : "off");
    break;
  case Action::Sas:
  case Action::SetSwRaidRequested:
  case Action::Sio1:
  case Action::AcLink:
  case Action::ActiveCoreAll:
  case Action::ActiveCoreCount:
  case Action::Uuid:
  case Action::Serial:
  case Action::ConRedirect:
  case Action::Fcoe:
  case Action::EmFailurePause:
    DescribeSpecial(E, A);
    break;
  }
  return E;
}

bool KeywordBegins(const CHAR8* Text, const CHAR8* Keyword) {
  UINT16 Length = 0;
  return TextStartsWith(Text, Keyword, &Length) != 0;
}

Json PlatformKeywordEntry(const PlatformKeyword& Row) {
  const KeywordAction& A = KeywordActions[Row.Code];
  const Effect E = Describe(A);
  Json Entry = {{"code", Row.Code}, {"keyword", Row.Keyword}};
  Entry["value"] = E.ValueText.empty() ? Json() : Json(E.ValueText);
  // The lookup takes the first row that matches: earlier rows that begin with this keyword catch
  // the texts they spell, and an earlier row that this keyword begins with would hide it.
  Json CaughtFirst = Json::array();
  Json Hidden = Json::array();
  for (const PlatformKeyword* Earlier = PlatformKeywordTable; Earlier != &Row; ++Earlier) {
    if (KeywordBegins(Earlier->Keyword, Row.Keyword)) {
      CaughtFirst.push_back(Earlier->Code);
    }
    if (KeywordBegins(Row.Keyword, Earlier->Keyword)) {
      Hidden.push_back(Earlier->Code);
    }
  }
  if (!CaughtFirst.empty()) {
    Entry["texts_taken_by_earlier_rows"] = CaughtFirst;
  }
  if (!Hidden.empty()) {
    Entry["never_matched_behind"] = Hidden;
  }
  Json Status = {"Done"};
  if (A.Gated || A.Kind == Action::Refuse) {
    Status.push_back("Refused");
  }
  Entry["gated"] = A.Gated != 0;
  Entry["status"] = Status;
  Entry["effect"] = E.Summary;
  Entry["changes"] = E.Changes;
  Entry["resets"] = E.Resets;
  Entry["in_adapter_list"] = E.AdapterList;
  return Entry;
}

Json Prefixes() {
  const struct {
    const CommandPrefix& Prefix;
    const char* Meaning;
  } Rows[] = {
      {PrefixBootCfgSetting, "a platform command: a platform keyword follows"},
      {PrefixB1, "the short form of \"SET BOOTCFGSETTING1 \""},
      {PrefixNetPort, "an adapter port command: the port digit, a blank and the adapter setting "
                      "follow"},
      {PrefixN, "the short form of \"SET NETPORT\": a port digit 1 to 8 and a blank follow; the "
                "driver widens it to \"Set Netport\" before any other rule"},
      {PrefixMultiFunctionSf, "a vendor 0x14E4 setting after the port (and after the first \"_\" "
                              "of an OEM keyword): some devices need a reset after it"},
      {PrefixMultiFunctionNpar, "as MULTIFUNCTIONMODE=SF, for other devices"},
  };
  Json List = Json::array();
  for (const auto& R : Rows) {
    List.push_back({{"text", R.Prefix.Text}, {"meaning", R.Meaning}});
  }
  return List;
}

Json AdapterKeywords() {
  Json List = Json::array();
  for (const AdapterKeyword* Row = AdapterKeywordMap; Row->Code != AdapterKeyEnd; ++Row) {
    Json Entry = {{"code", Row->Code}, {"key", Row->Key}, {"replacement", Row->Replacement}};
    Entry["replaces"] = Row->Code == AdapterKeyDefault ? "the whole setting; anything after the "
                                                         "key is dropped"
                                                       : "the key; \"=\" and the value follow";
    List.push_back(Entry);
  }
  return List;
}

Json AdapterValues() {
  Json List = Json::array();
  for (const AdapterValue* Row = AdapterValueMap; Row->Code != AdapterKeyEnd; ++Row) {
    List.push_back({{"keyword_code", Row->Code},
                    {"key", AdapterKeywordMap[Row->Code].Key},
                    {"value", Row->Value},
                    {"replacement", Row->Replacement}});
  }
  return List;
}

// The words among Words that an adapter run does not count as failed, as "0x0500 and 0x0E00".
std::string PassingWords(std::initializer_list<UINT32> Words) {
  std::string Text;
  for (UINT32 Word : Words) {
    if ((Word & AdapterStatusFailedBits) == 0) {
      Text += (Text.empty() ? "" : " and ") + HexNumber(Word, 4);
    }
  }
  if (Text.empty()) {
    throw std::logic_error("no adapter status word the driver expects passes the failure test");
  }
  return Text;
}

Json StatusWords() {
  return Json::array(
      {{{"name", "ClpStatusDone"},
        {"value", HexNumber(ClpStatusDone, 4)},
        {"meaning", "the platform command was accepted, also when nothing had to change"}},
       {{"name", "ClpStatusBadKeyword"},
        {"value", HexNumber(ClpStatusBadKeyword, 4)},
        {"meaning", "a platform command whose keyword is in no row; carried out three times, "
                    "then reported as a failure"}},
       {{"name", "ClpStatusRefused"},
        {"value", HexNumber(ClpStatusRefused, 4)},
        {"meaning", "not allowed in this platform state (gated keywords while platform item 29 "
                    "answers nonzero) or not allowed at all; carried out three times, then "
                    "reported as a failure"}},
       {{"name", "adapter status"},
        {"value", "as the adapter answers"},
        {"meaning", "an adapter command's record holds the adapter driver's own status word; a "
                    "word with any bit of AdapterStatusFailedBits set is recorded all the same, "
                    "reported as a failure, and the run goes on"}},
       {{"name", "AdapterStatusFailedBits"},
        {"value", HexNumber(AdapterStatusFailedBits, 4)},
        {"meaning", "the bits that make an adapter's status word a failure; " +
                        PassingWords({NparRestoreAccepted, ClpStatusDone}) + " pass"}},
       {{"name", "NparRestoreAccepted"},
        {"value", HexNumber(NparRestoreAccepted, 4)},
        {"meaning", "what each default-restore command must answer; any other word is reported "
                    "and ends the restore with the position's NparRestoreMask bit still set"}}});
}

// The port digit of "SET NETPORTn " that the adapter at Row of Vendor takes, or null when it takes
// every port or none. Asked of the driver's own rewriting.
Json PortTaken(UINT8 Row, UINT16 Vendor) {
  Json Port;
  for (int Digit = 1; Digit <= 7; ++Digit) {
    if (RewriteForPosition("SET NETPORT" + std::to_string(Digit) + " X", Row, Vendor).Sent) {
      if (!Port.is_null()) {
        return Json();
      }
      Port = Digit;
    }
  }
  return Port;
}

Json AdapterPositions() {
  Json List = Json::array();
  for (UINT8 Row = 0; Row < AdapterSlotCount; ++Row) {
    const AdapterSlot& S = AdapterSlotTable[Row];
    List.push_back({{"row", Row},
                    {"fru_id", S.FruId},
                    {"bridge", BridgeName(Row)},
                    {"function", S.Function},
                    {"pending_bit", HexNumber(S.PendingBit, 8)},
                    {"port_8086", PortTaken(Row, Vendor8086)},
                    {"port_14E4", PortTaken(Row, Vendor14E4)}});
  }
  return List;
}

Json PendingMaskName(UINT16 Vendor) {
  UINTN Offset = 0;
  if (!PendingMaskField(Vendor, &Offset)) {
    return Json();
  }
  return FieldAt("TalBladeData", Offset).Name;
}

Json Devices(const UINT32 (&Words)[2]) {
  Json List = Json::array();
  for (UINT32 Word : Words) {
    if (static_cast<UINT16>(Word) != Vendor14E4) {
      throw std::logic_error("a reset rule of vendor 0x14E4 names another vendor");
    }
    List.push_back(HexNumber(Word >> 16, 4));
  }
  return List;
}

Json AdapterVendors() {
  const std::string Served = "an arrival that finds the mask not 0 serves its own adapter, then "
                             "every position of the vendor still pending, in row order after its "
                             "own and round again, at most " +
                             std::to_string(AdapterRunMaxAdapters) +
                             " in one run, all through the arriving adapter driver's Execute; "
                             "with the mask 0 it runs nothing";
  return Json::array(
      {{{"vendor", HexNumber(Vendor8086, 4)},
        {"pending_mask", PendingMaskName(Vendor8086)},
        {"port", "the position's port for 0x8086"},
        {"receives", "\"SET \" and the setting, without the port part, its key and value "
                     "translated by the adapter keyword and value maps"},
        {"served", Served}},
       {{"vendor", HexNumber(Vendor10DF, 4)},
        {"pending_mask", PendingMaskName(Vendor10DF)},
        {"port", "every port"},
        {"receives", "the line unchanged"},
        {"served", Served + "; serving function 0 of a slot clears the bit of its function 1 as "
                            "well (one two-port adapter)"}},
       {{"vendor", HexNumber(Vendor14E4, 4)},
        {"pending_mask", PendingMaskName(Vendor14E4)},
        {"port", "the position's port for 0x14E4"},
        {"receives", "the line with its port digit made 1"},
        {"served", "one position per run; a reset that a run asks for while positions of the "
                   "vendor are still pending waits in TalBladeData.DeferredReset (bit " +
                       HexNumber(DeferredResetOwed, 2) + ") for the run that leaves none pending"},
        {"resets_after", Json::array({{{"setting", PrefixMultiFunctionSf.Text},
                                       {"devices", Devices(Vendor14E4SfModeResets)}},
                                      {{"setting", PrefixMultiFunctionNpar.Text},
                                       {"devices", Devices(Vendor14E4NparModeResets)}}})}},
       {{"vendor", "any other"},
        {"pending_mask", PendingMaskName(0)},
        {"port", "every port"},
        {"receives", "the line unchanged"},
        {"served", "each arrival serves its own adapter alone"}}});
}

std::string InputLevel(UINT16 Port, UINT32 Bit) {
  int Index = 0;
  while ((Bit >> Index) != 1) {
    ++Index;
  }
  return "I/O port " + HexNumber(Port, 3) + " bit " + std::to_string(Index);
}

Json WaitMessage(const char* Name, const UINT8 (&Bytes)[AdapterWaitMessageSize], const char* Sent) {
  return {{"name", Name},
          {"netfn", HexNumber(IpmiNetFnOem, 2)},
          {"command", HexNumber(IpmiCmdOemAdapterWait, 2)},
          {"request", mailbox_format::HexBytesText({std::begin(Bytes), std::end(Bytes)})},
          {"sent", Sent}};
}

Json AdapterArrival() {
  Json Restore = Json::array();
  for (const auto& Command : NparRestoreCommands) {
    Restore.push_back(Command);
  }
  return {
      {"adapter_ready_input", InputLevel(AdapterReadyPort, AdapterReadyBit)},
      {"wait_enable_input", InputLevel(AdapterWaitPort, AdapterWaitBit)},
      {"fru2_answer", AdapterMailboxInFru2Answer},
      {"poll_interval_us", AdapterReadyPollMicroseconds},
      {"branches",
       Json::array({"adapter-ready input 1: the adapter's commands run at once",
                    "adapter-ready input 0 and NparRestoreMask not 0: the default restore, and no "
                    "command runs at this arrival",
                    "otherwise: the BMC is sent the wait-begins message, "
                    "TalBladeData.AdapterReadyWait becomes 1, the mailbox is released, every "
                    "processor is slowed down and, when the wait-enable input is 1, the "
                    "adapter-ready input is read until it is 1 (no time limit); then the "
                    "wait-ends message, AdapterReadyWait 0, and the commands run when the input "
                    "is 1, platform settings of the adapter lists included"})},
      {"wait_messages",
       Json::array({WaitMessage("wait begins", AdapterWaitBegins, "before the wait"),
                    WaitMessage("wait ends", AdapterWaitEnds, "after the wait")})},
      {"default_restore",
       {{"commands", Restore},
        {"expected_status", HexNumber(NparRestoreAccepted, 4)},
        {"effect", "sent to the arriving adapter when its position's bit is set in "
                   "NparRestoreMask; when every command answers the expected status the bit is "
                   "cleared and its FRU device leaves ClpCommandFruIdList, and the system resets "
                   "once the mask is empty"}}}};
}

Json Adapters() {
  return {
      {"positions", AdapterPositions()},
      {"platform_mailbox_rows",
       "the rows of FRU device 1 move to FRU device 2, each at its own arrival, when "
       "platform information item 30 answers " +
           std::to_string(AdapterMailboxInFru2Answer)},
      {"vendors", AdapterVendors()},
      {"run", "each position served runs lists 0 to 7 of its mailbox under the mailbox lock, each "
              "command through the rewriting of its vendor; a command for another position keeps "
              "its result slot as it was; a list with a 33rd command gets the overflow marker and "
              "ends the position's lists; the lock is released after the position, except in FRU "
              "devices 1 and 2, which stay locked until the completion signal; the response buffer "
              "holds " +
                  std::to_string(AdapterResponseSize) + " bytes and is never read"},
      {"arrival", AdapterArrival()}};
}

Json Field(size_t Offset, size_t Size, const std::string& Name, const std::string& Meaning) {
  return {{"offset", Offset}, {"size", Size}, {"name", Name}, {"meaning", Meaning}};
}

Json MailboxLayout() {
  Json Candidates = Json::array();
  for (UINT8 K = 0; K < MailboxCandidates; ++K) {
    Candidates.push_back(MailboxFirstOffset + MailboxStride * K);
  }
  Json Header = Json::array();
  Header.push_back(
      Field(offsetof(MailboxHeader, Signature), sizeof(MailboxSignature), "Signature", "\"$FIP\""));
  Header.push_back(Field(offsetof(MailboxHeader, Reserved1), sizeof(MailboxHeader::Reserved1),
                         "(reserved)", "not interpreted; counted in the checksum"));
  for (UINT8 J = 0; J < MailboxCommandLists; ++J) {
    Header.push_back(
        Field(CommandListOffsetField(J), 2, "CommandListOffset[" + std::to_string(J) + "]",
              "big-endian FRU offset of command list " + std::to_string(J) + "; 0: no list"));
  }
  Header.push_back(Field(ResultAreaOffsetField, 2, "ResultAreaOffset",
                         "big-endian FRU offset of the result area; 0: nothing is run"));
  Header.push_back(Field(offsetof(MailboxHeader, Reserved2), sizeof(MailboxHeader::Reserved2),
                         "(checksum word)", "free for the BMC; counted in the checksum"));
  const Json Lock = Json::array({Field(LockTurnOffset, 1, "LockTurn",
                                       "the host writes 1 when it asks for the lock; 0 lets "
                                       "the host in"),
                                 Field(BmcLockFlagOffset, 1, "BmcLockFlag",
                                       "the BMC's flag: 0 when it neither holds nor "
                                       "wants the mailbox; read first"),
                                 Field(HostLockFlagOffset, 1, "HostLockFlag",
                                       "the host's flag: 1 while asking and holding, "
                                       "0 on release")});
  const Json Result =
      Json::array({Field(offsetof(ResultRecord, Id), sizeof(ResultRecord::Id), "id", "big-endian"),
                   Field(offsetof(ResultRecord, Status), sizeof(ResultRecord::Status), "status",
                         "little-endian status word")});
  return {{"header_offsets", Candidates},
          {"header_size", sizeof(MailboxHeader)},
          {"header", Header},
          {"checksum", "the 14 big-endian words of the header add up to 0 modulo 65536; the "
                       "search stops at the first \"$FIP\", good checksum or not"},
          {"lock", Lock},
          {"lock_polls", LockPolls},
          {"lock_poll_interval_us", LockPollMicroseconds},
          {"command_lists", MailboxCommandLists},
          {"command_record",
           {{"id", "2 bytes, big-endian"},
            {"end_id", HexNumber(CommandEndId, 4)},
            {"text", "NUL-terminated 8-bit text right behind the id; the next record follows the "
                     "NUL"},
            {"text_max", CommandTextCapacity - 1}}},
          {"commands_per_list", MailboxCommandsPerList},
          {"result_record", Result},
          {"result_record_offset", "ResultAreaOffset + " + std::to_string(ResultListStride) +
                                       " * list + " + std::to_string(ResultRecordSize) +
                                       " * command index (every command counts)"},
          {"result_area_size", ResultListStride * MailboxCommandLists},
          {"overflow_marker",
           mailbox_format::HexBytesText({std::begin(OverflowMarker), std::end(OverflowMarker)})},
          {"overflow_rule", "written over record 0 of a list that holds a 33rd command; commands "
                            "after the 32nd are not run"},
          {"fru_request_bytes", FruChunkMax}};
}

std::string Narrow(const CHAR16* Text) {
  std::string Out;
  for (; *Text != 0; ++Text) {
    Out += static_cast<char>(*Text);
  }
  return Out;
}

Json Variables() {
  Json List = Json::array();
  for (const KnownVariable& V : KnownVariables()) {
    Json Fields = Json::array();
    for (const VariableField& F : V.Fields) {
      Fields.push_back({{"name", F.Name}, {"offset", F.Offset}, {"size", F.Size}});
    }
    List.push_back({{"label", V.Label},
                    {"name", Narrow(V.Var->Name)},
                    {"guid", mailbox_format::GuidText(V.Var->Guid)},
                    {"size", V.Var->Size},
                    {"attributes", V.Var->Attributes},
                    {"fields", Fields}});
  }
  return List;
}

// Markdown: a cell never holds a bare "|".
std::string Cell(const Json& Value) {
  std::string Text = Value.is_string() ? Value.get<std::string>() : Value.dump();
  std::string Out;
  for (char C : Text) {
    Out += C == '|' ? std::string("\\|") : std::string(1, C);
  }
  return Out;
}

std::string Code(const Json& Value) {
  return "`" + Cell(Value) + "`";
}

std::string ChangesText(const Json& Changes) {
  std::string Text;
  for (const Json& C : Changes) {
    Text += (Text.empty() ? "" : "; ") + Cell(C["variable"]) + "." + Cell(C["field"]) + " " +
            Cell(C["operation"]) + " " + Cell(C["value"]);
  }
  return Text.empty() ? "-" : Text;
}

void PlatformSection(std::ostringstream& Md, const Json& R) {
  Md << "## Platform keywords\n\n"
     << "A platform command is one of the prefixes `SET BOOTCFGSETTING1 ` or `SET B1 ` followed "
        "by a keyword. "
     << "Keywords match as prefixes, without case for letters: the first row, in code order, whose "
        "keyword begins the text wins, and the text after a keyword that does not end in `=` is "
        "not read. "
     << "A keyword ending in `=` is followed by its value. "
     << "Gated keywords are refused while platform information item 29 answers nonzero. "
     << "A keyword that changes TalBladeData rewrites it even when the value was there already; "
        "SystemSetup and ServerSetup are written only when a value changes.\n\n"
     << "| Code | Keyword | Effect | Changes | Gated | Resets | In an adapter list |\n"
     << "|---:|---|---|---|---|---|---|\n";
  for (const Json& K : R["platform_keywords"]) {
    std::string Effect = Cell(K["effect"]);
    if (!K["value"].is_null()) {
      Effect += "; value: " + Cell(K["value"]);
    }
    if (K.contains("texts_taken_by_earlier_rows")) {
      Effect += "; texts that begin like code";
      for (const Json& C : K["texts_taken_by_earlier_rows"]) {
        Effect += " " + C.dump();
      }
      Effect += " go to that row";
    }
    Md << "| " << K["code"].dump() << " | " << Code(K["keyword"]) << " | " << Effect << " | "
       << ChangesText(K["changes"]) << " | " << (K["gated"].get<bool>() ? "yes" : "no") << " | "
       << Cell(K["resets"]) << " | " << Cell(K["in_adapter_list"]) << " |\n";
  }
  Md << "\nAny other keyword after a platform prefix answers `ClpStatusBadKeyword`; in an adapter "
        "list it is sent to the adapter with that status preset.\n\n";
}

void AdapterSection(std::ostringstream& Md, const Json& R) {
  Md << "## Adapter keywords and values (vendor 0x8086)\n\n"
     << "For adapters of PCI vendor 0x8086 the driver removes the port part of `SET NETPORTn ` "
        "and translates the first key that begins the setting, then the value when the key's code "
        "has a value row. Keys and values match as prefixes, without case for letters, in row "
        "order. Other vendors receive the command unchanged (after the short form is widened); "
        "vendor 0x14E4 has every port renumbered to 1.\n\n"
     << "| Code | OEM key | Vendor key | Replaces |\n|---:|---|---|---|\n";
  for (const Json& K : R["adapter_keywords"]) {
    Md << "| " << K["code"].dump() << " | " << Code(K["key"]) << " | " << Code(K["replacement"])
       << " | " << Cell(K["replaces"]) << " |\n";
  }
  Md << "\n| Key (code) | OEM value | Vendor value |\n|---|---|---|\n";
  for (const Json& V : R["adapter_values"]) {
    Md << "| " << Code(V["key"]) << " (" << V["keyword_code"].dump() << ") | " << Code(V["value"])
       << " | " << Code(V["replacement"]) << " |\n";
  }
  Md << "\n";
}

std::string OrDash(const Json& Value) {
  return Value.is_null() ? "-" : Cell(Value);
}

void PositionsSection(std::ostringstream& Md, const Json& A) {
  Md << "## Adapter positions\n\n"
     << "An adapter sits at one of these positions: the function on the secondary bus of the "
        "bridge (device 0). Its commands come from the mailbox in the position's FRU device; "
     << Cell(A["platform_mailbox_rows"]) << ". The pending bit is the position's bit in the "
     << "vendor's pending mask and in NparRestoreMask; the port is the `SET NETPORTn` digit the "
        "position takes for that vendor.\n\n"
     << "| Row | FRU device | Bridge | Function | Pending bit | Port for 0x8086 | Port for 0x14E4 "
        "|\n|---:|---:|---|---:|---|---:|---:|\n";
  for (const Json& P : A["positions"]) {
    Md << "| " << P["row"].dump() << " | " << P["fru_id"].dump() << " | " << Cell(P["bridge"])
       << " | " << P["function"].dump() << " | " << Cell(P["pending_bit"]) << " | "
       << OrDash(P["port_8086"]) << " | " << OrDash(P["port_14E4"]) << " |\n";
  }
  Md << "\n| Vendor | Pending mask | Port | Receives | Served |\n|---|---|---|---|---|\n";
  for (const Json& V : A["vendors"]) {
    std::string Served = Cell(V["served"]);
    if (V.contains("resets_after")) {
      for (const Json& R : V["resets_after"]) {
        Served += "; devices";
        for (const Json& D : R["devices"]) {
          Served += " " + Cell(D);
        }
        Served += " need a reset after `" + Cell(R["setting"]) + "`";
      }
    }
    Md << "| " << Cell(V["vendor"]) << " | " << OrDash(V["pending_mask"]) << " | "
       << Cell(V["port"]) << " | " << Cell(V["receives"]) << " | " << Served << " |\n";
  }
  Md << "\nThe run: " << Cell(A["run"]) << ".\n\n";
}

void ArrivalSection(std::ostringstream& Md, const Json& A) {
  Md << "## Adapter arrival\n\n"
     << "Each adapter driver that starts brings one arrival. The adapter-ready input is "
     << Cell(A["adapter_ready_input"]) << ", the wait-enable input " << Cell(A["wait_enable_input"])
     << "; during the wait the adapter-ready input is read every " << A["poll_interval_us"].dump()
     << " microseconds.\n\n";
  for (const Json& B : A["branches"]) {
    Md << "- " << Cell(B) << "\n";
  }
  Md << "\n| Message to the BMC | NetFn | Command | Request bytes | Sent "
        "|\n|---|---|---|---|---|\n";
  for (const Json& W : A["wait_messages"]) {
    Md << "| " << Cell(W["name"]) << " | " << Cell(W["netfn"]) << " | " << Cell(W["command"])
       << " | " << Cell(W["request"]) << " | " << Cell(W["sent"]) << " |\n";
  }
  const Json& R = A["default_restore"];
  Md << "\nDefault restore: the commands";
  for (const Json& C : R["commands"]) {
    Md << " " << Code(C);
  }
  Md << ", in this order, each expected to answer " << Cell(R["expected_status"]) << "; "
     << Cell(R["effect"]) << ".\n\n";
}

void MailboxSection(std::ostringstream& Md, const Json& M) {
  Md << "## Mailbox layout\n\nThe header lies at the first of the FRU offsets";
  for (const Json& H : M["header_offsets"]) {
    Md << " " << H.dump();
  }
  Md << " that holds `$FIP`. Checksum: " << Cell(M["checksum"]) << ".\n\n"
     << "| Offset from the header | Size | Field | Meaning |\n|---:|---:|---|---|\n";
  for (const char* Part : {"header", "lock"}) {
    for (const Json& F : M[Part]) {
      Md << "| " << F["offset"].dump() << " | " << F["size"].dump() << " | " << Cell(F["name"])
         << " | " << Cell(F["meaning"]) << " |\n";
    }
  }
  Md << "\nThe host polls the lock " << M["lock_polls"].dump() << " times, "
     << M["lock_poll_interval_us"].dump() << " microseconds apart.\n\n"
     << "Command record: id " << Cell(M["command_record"]["id"]) << ", then the text ("
     << Cell(M["command_record"]["text"]) << "), at most " << M["command_record"]["text_max"].dump()
     << " characters. Id " << Cell(M["command_record"]["end_id"]) << " ends a list. "
     << "At most " << M["commands_per_list"].dump() << " commands of a list are run.\n\n"
     << "Result record: id (2 bytes, big-endian), status (4 bytes, little-endian), at "
     << Cell(M["result_record_offset"]) << "; the result area holds "
     << M["result_area_size"].dump() << " bytes. Overflow marker `" << Cell(M["overflow_marker"])
     << "`: " << Cell(M["overflow_rule"]) << ".\n\n"
     << "The host reads and writes the mailbox in Read and Write FRU Data requests of at most "
     << M["fru_request_bytes"].dump()
     << " bytes, and writes only after a read shows a byte that "
        "differs.\n\n";
}

void VariableSection(std::ostringstream& Md, const Json& R) {
  Md << "## Variables\n\n| Variable | Name | Vendor GUID | Size | Attributes | Fields (offset) "
        "|\n|---|---|---|---:|---:|---|\n";
  for (const Json& V : R["variables"]) {
    std::string Fields;
    for (const Json& F : V["fields"]) {
      Fields += (Fields.empty() ? "" : ", ") + Cell(F["name"]) + " (" + F["offset"].dump() + ")";
    }
    Md << "| " << Cell(V["label"]) << " | " << Code(V["name"]) << " | " << Cell(V["guid"]) << " | "
       << V["size"].dump() << " | " << V["attributes"].dump() << " | " << Fields << " |\n";
  }
}

} // namespace

nlohmann::ordered_json BuildCommandReference() {
  // The adapter positions are asked of the driver's rewriting.
  const DriverSandbox Sandbox;
  Json Keywords = Json::array();
  for (const PlatformKeyword* Row = PlatformKeywordTable; Row->Code != KeywordEnd; ++Row) {
    Keywords.push_back(PlatformKeywordEntry(*Row));
  }
  return {{"generated_by", "bladecfg-reference, from the driver's tables"},
          {"matching", "prefix match; letters A-Z and a-z match each other, every other byte "
                       "only itself; the first row that matches wins"},
          {"prefixes", Prefixes()},
          {"platform_keywords", Keywords},
          {"adapter_keywords", AdapterKeywords()},
          {"adapter_values", AdapterValues()},
          {"adapters", Adapters()},
          {"status_words", StatusWords()},
          {"failure_status_code", HexNumber(ClpFailureCode, 8)},
          {"mailbox", MailboxLayout()},
          {"variables", Variables()}};
}

std::string CommandReferenceMarkdown(const nlohmann::ordered_json& R) {
  std::ostringstream Md;
  Md << "# BladeCfgDxe command reference\n\n"
     << "Generated by `bladecfg-reference` from the driver's own tables (the same data as "
        "`command-reference.json`). Do not edit: `cmake --build --preset host --target "
        "command-reference` writes both files again.\n\n"
     << "## Command lines\n\nA command is NUL-terminated 8-bit text. Matching: "
     << Cell(R["matching"]) << ".\n\n| Prefix | Meaning |\n|---|---|\n";
  for (const Json& P : R["prefixes"]) {
    Md << "| " << Code(P["text"]) << " | " << Cell(P["meaning"]) << " |\n";
  }
  Md << "\n";
  PlatformSection(Md, R);
  AdapterSection(Md, R);
  PositionsSection(Md, R["adapters"]);
  ArrivalSection(Md, R["adapters"]["arrival"]);
  Md << "## Status words\n\n| Name | Value | Meaning |\n|---|---|---|\n";
  for (const Json& S : R["status_words"]) {
    Md << "| " << Cell(S["name"]) << " | " << Cell(S["value"]) << " | " << Cell(S["meaning"])
       << " |\n";
  }
  Md << "\nFailures are reported as the status code " << Cell(R["failure_status_code"])
     << " (EFI_ERROR_CODE), at most once per boot and only while TalBladeData's ClpFailurePause "
        "is set.\n\n";
  MailboxSection(Md, R["mailbox"]);
  VariableSection(Md, R);
  return Md.str();
}

std::vector<ReferenceFile> CommandReferenceFiles() {
  const Json Reference = BuildCommandReference();
  return {{"command-reference.json", Reference.dump(2) + "\n"},
          {"command-reference.md", CommandReferenceMarkdown(Reference)}};
}

} // namespace tools
