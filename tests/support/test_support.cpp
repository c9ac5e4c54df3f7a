// Every helper of test_support.h is defined in the header; the test targets still list this file.
#include "support/test_support.h"
