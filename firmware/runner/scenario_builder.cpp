#include "firmware/runner/scenario_builder.h"

#include <cstdio>

#include "mailbox_format/hex_text.h"

namespace fw {

ScenarioBuilder& ScenarioBuilder::Line(const std::string& Line) {
  Text_ += Line;
  Text_ += '\n';
  return *this;
}

namespace {
std::string Hex(const std::vector<uint8_t>& Bytes) {
  return mailbox_format::HexBytesText(Bytes, "");
}
} // namespace

ScenarioBuilder& ScenarioBuilder::SmbiosUuid(const std::vector<uint8_t>& Uuid) {
  return Line("smbios-uuid " + Hex(Uuid));
}

ScenarioBuilder& ScenarioBuilder::SmbiosTable() {
  return Line("smbios-table");
}

ScenarioBuilder& ScenarioBuilder::Ipmi(unsigned NetFn, unsigned Command,
                                       const std::vector<uint8_t>& Data) {
  return Line("ipmi " + std::to_string(NetFn) + " " + std::to_string(Command) + " " +
              (Data.empty() ? "-" : Hex(Data)));
}

ScenarioBuilder& ScenarioBuilder::Clock(const std::string& Tag) {
  return Line("clock " + Tag);
}

ScenarioBuilder& ScenarioBuilder::Stall(unsigned Microseconds) {
  return Line("stall " + std::to_string(Microseconds));
}

ScenarioBuilder& ScenarioBuilder::Variable(const std::string& Name, const std::string& Guid,
                                           uint32_t Attributes, const std::vector<uint8_t>& Bytes) {
  const std::string Text = Hex(Bytes);
  char Attr[9];
  std::snprintf(Attr, sizeof(Attr), "%x", Attributes);
  return Line("variable " + Name + " " + Guid + " " + Attr + " " + (Text.empty() ? "-" : Text));
}

ScenarioBuilder& ScenarioBuilder::Platform(unsigned Item, uint64_t Value) {
  return Line("platform " + std::to_string(Item) + " " + std::to_string(Value));
}

ScenarioBuilder& ScenarioBuilder::Watch(const std::string& Name, const std::string& Guid,
                                        size_t Size) {
  return Line("watch " + Name + " " + Guid + " " + std::to_string(Size));
}

ScenarioBuilder& ScenarioBuilder::Readback(unsigned Fru, unsigned Offset, unsigned Count) {
  return Line("readback " + std::to_string(Fru) + " " + std::to_string(Offset) + " " +
              std::to_string(Count));
}

ScenarioBuilder& ScenarioBuilder::Load(const std::string& Path) {
  return Line("load " + Path);
}

ScenarioBuilder& ScenarioBuilder::Completion() {
  return Line("completion");
}

ScenarioBuilder& ScenarioBuilder::Snapshot(const std::string& Tag) {
  return Line("snapshot " + Tag);
}

ScenarioBuilder& ScenarioBuilder::Pci(unsigned Bus, unsigned Device, unsigned Function) {
  return Line("pci " + std::to_string(Bus) + " " + std::to_string(Device) + " " +
              std::to_string(Function));
}

namespace {
std::string Location(unsigned Bus, unsigned Device, unsigned Function) {
  return std::to_string(Bus) + " " + std::to_string(Device) + " " + std::to_string(Function);
}
} // namespace

ScenarioBuilder& ScenarioBuilder::Adapter(unsigned Bus, unsigned Device, unsigned Function,
                                          const std::vector<AdapterReply>& Replies) {
  std::string List;
  for (const AdapterReply& R : Replies) {
    char Word[16];
    std::snprintf(Word, sizeof(Word), "0x%04X", R.StatusWord);
    List += (List.empty() ? "" : ",") + (R.Fails ? std::string("error") : std::string(Word));
  }
  return Line("adapter " + Location(Bus, Device, Function) + " " + List);
}

ScenarioBuilder& ScenarioBuilder::Connect(unsigned Bus, unsigned Device, unsigned Function) {
  return Line("connect " + Location(Bus, Device, Function));
}

ScenarioBuilder& ScenarioBuilder::Execute(unsigned Bus, unsigned Device, unsigned Function,
                                          const std::string& Text) {
  return Line("execute " + Location(Bus, Device, Function) + " " +
              Hex(std::vector<uint8_t>(Text.begin(), Text.end())));
}

ScenarioBuilder& ScenarioBuilder::ReadyInput(bool Level) {
  return Line(Level ? "ready-input 1" : "ready-input 0");
}

ScenarioBuilder& ScenarioBuilder::ReadyInputRises(unsigned Milliseconds) {
  return Line("ready-input-rises " + std::to_string(Milliseconds));
}

ScenarioBuilder& ScenarioBuilder::WaitReady(unsigned Milliseconds) {
  return Line("wait-ready " + std::to_string(Milliseconds));
}

ScenarioBuilder& ScenarioBuilder::PciHandles() {
  return Line("pci-handles");
}

ScenarioBuilder& ScenarioBuilder::MpRun() {
  return Line("mp-run");
}

} // namespace fw
