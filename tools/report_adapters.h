// The report's section on adapter arrivals, readable or as JSON: per arrival the branch taken, each
// adapter served with its commands as read and as sent (or why not), the status words and records,
// the OEM messages, the processors' clock modulation, the variables written and the reset.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "tools/adapter_arrivals.h"

namespace tools {

// One arrival, as the report's step for the adapter driver's start shows it.
void ArrivalText(const ArrivalOutcome& Arrival, std::ostream& Out);
nlohmann::ordered_json ArrivalJson(const ArrivalOutcome& Arrival);

std::string BranchName(ArrivalBranch Branch);

// "6 (1 wait, 5 run now)": how many arrivals took which branch.
std::string ArrivalsSummary(const std::vector<ArrivalOutcome>& Arrivals);

// True when an arrival hung (its wait for the adapter-ready input never ended).
bool AnyArrivalHung(const std::vector<ArrivalOutcome>& Arrivals);

} // namespace tools
