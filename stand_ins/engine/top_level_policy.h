// Which top-level window message, if any, the stand-in engine consumes. A
// real engine consumes a few; the runner must cope with both answers, so
// tests choose.
#ifndef STAND_INS_ENGINE_TOP_LEVEL_POLICY_H_
#define STAND_INS_ENGINE_TOP_LEVEL_POLICY_H_

#include "win/windows_api.h"

namespace stand_in {

// From now on consume `message` with `result`; 0 consumes nothing.
void SetConsumedTopLevelMessage(UINT message, LRESULT result);

// Returns true, with the result stored, when `message` is to be consumed.
bool ConsumeTopLevelMessage(UINT message, LRESULT* result);

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_TOP_LEVEL_POLICY_H_
