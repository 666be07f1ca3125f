// The token scanner's decision: the one shape a number token has.
#pragma once

#include "number_token.h"
#include "scan.h"

namespace vesk::textprep {

// The shape of n (scan.i at the token's end); fills n.rangeAt for ranges.
Shape DecideShape(const Scan& scan, NumberText& n);

}  // namespace vesk::textprep
