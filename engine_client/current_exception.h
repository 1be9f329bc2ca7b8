// Naming the exception being handled, for reports at the engine boundary.
#ifndef ENGINE_CLIENT_CURRENT_EXCEPTION_H_
#define ENGINE_CLIENT_CURRENT_EXCEPTION_H_

namespace flutter {

// Returns the what() text of the exception being handled, or a fixed text
// when it is not a standard exception. Call only inside a catch block; the
// text lives as long as the exception.
const char* DescribeCurrentException() noexcept;

}  // namespace flutter

#endif  // ENGINE_CLIENT_CURRENT_EXCEPTION_H_
