#include "stand_ins/engine/top_level_policy.h"

#include <mutex>

namespace stand_in {
namespace {

struct Policy {
  std::mutex mutex;
  UINT message = 0;
  LRESULT result = 0;
};

Policy& CurrentPolicy() {
  static Policy policy;
  return policy;
}

}  // namespace

void SetConsumedTopLevelMessage(UINT message, LRESULT result) {
  std::lock_guard<std::mutex> lock(CurrentPolicy().mutex);
  CurrentPolicy().message = message;
  CurrentPolicy().result = result;
}

bool ConsumeTopLevelMessage(UINT message, LRESULT* result) {
  std::lock_guard<std::mutex> lock(CurrentPolicy().mutex);
  if (CurrentPolicy().message == 0 || message != CurrentPolicy().message)
    return false;
  if (result != nullptr) *result = CurrentPolicy().result;
  return true;
}

}  // namespace stand_in
