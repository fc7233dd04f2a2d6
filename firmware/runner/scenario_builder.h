// Writes the scenario file the harness carries out (format in firmware/harness/scenario.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// One answer of the adapter stand-in's Execute: a status word, or a failing call.
struct AdapterReply {
  uint32_t StatusWord = 0;
  bool Fails = false;
};
constexpr AdapterReply ExecuteFails{0, true};

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
  ScenarioBuilder& SmbiosTable();
  ScenarioBuilder& Ipmi(unsigned NetFn, unsigned Command, const std::vector<uint8_t>& Data);
  ScenarioBuilder& Clock(const std::string& Tag);
  ScenarioBuilder& Stall(unsigned Microseconds);
  // The adapter stand-in manages that function and answers its commands with Replies in order,
  // the last for every later command.
  ScenarioBuilder& Adapter(unsigned Bus, unsigned Device, unsigned Function,
                           const std::vector<AdapterReply>& Replies);
  ScenarioBuilder& Connect(unsigned Bus, unsigned Device, unsigned Function);
  ScenarioBuilder& Execute(unsigned Bus, unsigned Device, unsigned Function,
                           const std::string& Text);
  ScenarioBuilder& ReadyInput(bool Level);
  ScenarioBuilder& ReadyInputRises(unsigned Milliseconds);
  ScenarioBuilder& WaitReady(unsigned Milliseconds);
  ScenarioBuilder& PciHandles();
  ScenarioBuilder& MpRun();

  const std::string& Text() const { return Text_; }

private:
  ScenarioBuilder& Line(const std::string& Line);
  std::string Text_;
};

} // namespace fw
