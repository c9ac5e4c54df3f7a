#pragma once

#include <cstddef>
#include <cstdio>

namespace trident {

// How many columns the terminal behind `stream` has; 80 when it does not say.
size_t terminalColumns(std::FILE* stream);

}  // namespace trident
