// Writes the scenario file the harness carries out (format in firmware/harness/scenario.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

class ScenarioBuilder {
public:
  ScenarioBuilder& Variable(const std::string& Name, const std::string& Guid, uint32_t Attributes,
                            const std::vector<uint8_t>& Bytes);
  ScenarioBuilder& Platform(unsigned Item, uint64_t Value);
  ScenarioBuilder& Watch(const std::string& Name, const std::string& Guid, size_t Size);
  ScenarioBuilder& Readback(unsigned Fru, unsigned Offset, unsigned Count);
  ScenarioBuilder& Load(const std::string& Path);
  ScenarioBuilder& Completion();
  ScenarioBuilder& Snapshot(const std::string& Tag);
  ScenarioBuilder& Pci(unsigned Bus, unsigned Device, unsigned Function);
  ScenarioBuilder& SmbiosUuid(const std::vector<uint8_t>& Uuid);
  ScenarioBuilder& Ipmi(unsigned NetFn, unsigned Command, const std::vector<uint8_t>& Data);
  ScenarioBuilder& Clock(const std::string& Tag);
  ScenarioBuilder& Stall(unsigned Microseconds);

  const std::string& Text() const { return Text_; }

private:
  ScenarioBuilder& Line(const std::string& Line);
  std::string Text_;
};

} // namespace fw
