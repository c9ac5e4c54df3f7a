#pragma once

#include <cstdio>
#include <ctime>
#include <string_view>

namespace trident {

// What the system-log prefix needs from the platform; diagnostics_<platform>.cpp has the calls.
// (isTerminal, declared with Diagnostics, lives there too.)
int processId();
unsigned long long currentThreadNumber();
std::tm localTime(std::time_t seconds);
std::tm utcTime(std::time_t seconds);
// Writes `text` to the stream's descriptor, past its stdio buffer (emptied first): a write that
// blocks for good (a pipe nobody reads) then leaves nothing in the buffer for the program's end
// to block on too.
void writeThrough(std::FILE* stream, std::string_view text);

}  // namespace trident
