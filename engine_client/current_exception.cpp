#include "engine_client/current_exception.h"

#include <exception>

namespace flutter {

const char* DescribeCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

}  // namespace flutter
