// Readable text for what a simulated boot did: status values, IPMI requests, variable changes,
// status codes and resets.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/blade.h"

namespace tools {

std::string StatusName(EFI_STATUS Status);
std::string GuidText(const EFI_GUID& Guid);
std::string DescribeRequest(const sim::IpmiRequest& Request);

// A copy of the platform variables, to compare the store after a boot with the store before it.
struct VariableSnapshot {
  struct Entry {
    std::string Label; // the variable's name as the driver knows it
    std::optional<std::vector<uint8_t>> Data;
  };
  std::vector<Entry> Entries;
};

VariableSnapshot TakeSnapshot(const sim::VariableStore& Store);

// Variables whose contents differ between two snapshots, byte by byte ("created" and "deleted" for
// variables that appear or vanish).
std::vector<std::string> DescribeVariableChanges(const VariableSnapshot& Before,
                                                 const VariableSnapshot& After);

// The full report of one boot.
std::string BootReport(const sim::Blade& Blade, const VariableSnapshot& Before,
                       const VariableSnapshot& After);

} // namespace tools
