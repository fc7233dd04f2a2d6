// The simulated parts whose protocols pass no interface pointer find their object here: the most
// recently constructed instance of the type that is still alive.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "sim/problems.h"

namespace sim {

template <typename T> class LiveInstances {
public:
  static void Add(T* Instance) { List().push_back(Instance); }
  static void Remove(T* Instance) {
    auto& L = List();
    L.erase(std::remove(L.begin(), L.end(), Instance), L.end());
  }
  // The newest instance, or nullptr (reported as a problem naming What) when none is alive.
  static T* Current(const char* What) {
    if (List().empty()) {
      ReportProblem(std::string(What) + " was called with no simulated instance alive");
      return nullptr;
    }
    return List().back();
  }

private:
  static std::vector<T*>& List() {
    static std::vector<T*> Instances;
    return Instances;
  }
};

} // namespace sim
