// The report of a bladecfg-sim run, readable or as JSON, and readable names for the values in it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sim/blade.h"
#include "tools/sim_run.h"

namespace tools {

std::string StatusName(EFI_STATUS Status);
std::optional<EFI_STATUS> StatusFromName(const std::string& Name);
std::string DescribeRequest(const sim::IpmiRequest& Request);

// Pieces of the report that its sections share: virtual time as seconds, how a call into the
// driver ended, and what a status code the driver raises means.
std::string Seconds(uint64_t Microseconds);
std::string Outcome(const sim::BootOutcome& O);
nlohmann::ordered_json OutcomeJson(const sim::BootOutcome& O);
std::string StatusCodeMeaning(const sim::StatusCodeRecord& C);
// A FRU device id as the slot table writes it: 1, 2, 4, 5, 0x50, 0x51, 0x52.
std::string FruName(UINT8 Id);

// The readable report; WithTrace adds every IPMI request.
std::string TextReport(const RunOutcome& Run, bool WithTrace);

// The same report, machine-readable.
nlohmann::ordered_json JsonReport(const RunOutcome& Run, bool WithTrace);

} // namespace tools
