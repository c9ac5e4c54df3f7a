// Every helper of process.h is defined in the header; the test targets still list this file.
#include "support/process.h"
