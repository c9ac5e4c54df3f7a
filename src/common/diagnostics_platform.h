#pragma once

#include <ctime>

namespace trident {

// What the system-log prefix needs from the platform; diagnostics_<platform>.cpp has the calls.
// (isTerminal, declared with Diagnostics, lives there too.)
int processId();
unsigned long long currentThreadNumber();
std::tm localTime(std::time_t seconds);
std::tm utcTime(std::time_t seconds);

}  // namespace trident
