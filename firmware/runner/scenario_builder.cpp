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

} // namespace fw
