// The one way a test replaces a seam: production code reads the seam's slot,
// and a ScopedOverride points the slot elsewhere for a scope.
//
//   std::atomic<const Calls*> calls_in_force{&kRealCalls};
//   ...
//   win::ScopedOverride<const Calls*> scoped(calls_in_force, &test_calls);
#ifndef WIN_SCOPED_OVERRIDE_H_
#define WIN_SCOPED_OVERRIDE_H_

#include <atomic>

namespace win {

// Puts `replacement` into `slot` for the lifetime of this object and the
// previous value back afterwards. The slot is atomic: background threads
// read seams too. Not meant for use while another thread is inside the code
// behind the seam.
template <typename T>
class ScopedOverride {
 public:
  ScopedOverride(std::atomic<T>& slot, T replacement)
      : slot_(slot), previous_(slot.exchange(replacement)) {}
  ~ScopedOverride() { slot_.store(previous_); }

  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

 private:
  std::atomic<T>& slot_;
  T previous_;
};

}  // namespace win

#endif  // WIN_SCOPED_OVERRIDE_H_
