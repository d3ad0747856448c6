#include "tests/support/firmware_builder.h"

// Implemented together with the firmware encryption (firmware/).
