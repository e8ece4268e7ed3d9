// The decimals moved to common/ (the serial tools read theirs the same way);
// this name stays for the handlers that still include it from here.
#pragma once

#include "common/decimal_text.hpp"
