// How the simulated parts that are reached through an interface without a pointer to them find
// their object: the firmware behind the service tables, the platform behind its protocols and
// the hardware-access functions, the SMBIOS table behind its edit protocol. Each registers itself
// while it lives; the current one is the most recently constructed that is still alive.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/problems.h"

namespace sim {

template <typename T> class CurrentInstance {
public:
  static void Add(T* Instance) {
    List().push_back(Instance);
    Newest_ = Instance;
  }
  static void Remove(T* Instance) {
    auto& L = List();
    L.erase(std::remove(L.begin(), L.end(), Instance), L.end());
    Newest_ = L.empty() ? nullptr : L.back();
  }
  static bool Exists() { return Newest_ != nullptr; }

  // The current instance, or nullptr (reported as a problem naming What) when none is alive.
  static T* Find(const char* What) {
    if (Newest_ == nullptr) {
      ReportProblem(std::string(What) + " was used with no simulated instance alive");
    }
    return Newest_;
  }

  // The same for callers that cannot go on without one: they are unwound after the report.
  static T& Get(const char* What) {
    T* Instance = Find(What);
    if (Instance == nullptr) {
      throw std::logic_error(std::string("no simulated instance for ") + What);
    }
    return *Instance;
  }

private:
  static std::vector<T*>& List() {
    static std::vector<T*> Instances;
    return Instances;
  }
  // The last of List(), kept at hand: every firmware service and protocol call asks for it.
  static inline T* Newest_ = nullptr;
};

} // namespace sim
