// Captures what the code under test writes to std::cerr.
#ifndef TESTS_ENGINE_CLIENT_STDERR_CAPTURE_H_
#define TESTS_ENGINE_CLIENT_STDERR_CAPTURE_H_

#include <iostream>
#include <sstream>
#include <string>

namespace flutter::testing {

// Redirects std::cerr into a string for its lifetime. Window thread only.
class StderrCapture {
 public:
  StderrCapture() : previous_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~StderrCapture() { std::cerr.rdbuf(previous_); }

  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Returns everything written so far.
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* previous_;
};

}  // namespace flutter::testing

#endif  // TESTS_ENGINE_CLIENT_STDERR_CAPTURE_H_
