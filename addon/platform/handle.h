// Owning reference to a reference-counted platform object.
//
// Every construction says whether it adopts a reference the caller already
// owns (the result of a Create or Copy call) or retains a borrowed one, so a
// reader can check the ownership of each reference where it is made. The
// handle is move-only: a second owner has to be asked for with share(), which
// keeps accidental retains out of the code.
#pragma once

#include <utility>

namespace platform {

// Implemented by the platform layer for every kind of object it hands out.
void retainObject(const void* ref) noexcept;
void releaseObject(const void* ref) noexcept;

struct PlatformRefTraits {
  static void retain(const void* ref) noexcept { retainObject(ref); }
  static void release(const void* ref) noexcept { releaseObject(ref); }
};

template <class T, class Traits = PlatformRefTraits>
class Handle {
 public:
  Handle() noexcept = default;

  // Takes over one reference that the caller owns (null gives an empty handle).
  static Handle adopt(T* ref) noexcept { return Handle(ref); }

  // Becomes an additional owner of a borrowed reference.
  static Handle retain(T* ref) noexcept {
    if (ref) Traits::retain(ref);
    return Handle(ref);
  }

  Handle(Handle&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  // A second owner of the same object.
  Handle share() const noexcept { return retain(ref_); }

  T* get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

  void reset() noexcept {
    if (T* ref = std::exchange(ref_, nullptr)) Traits::release(ref);
  }

  // Gives the reference up to the caller, who must release it.
  [[nodiscard]] T* release() noexcept { return std::exchange(ref_, nullptr); }

  // For out-parameter calls of the Copy(..., &result) kind: drops what the
  // handle held and lets the callee store an owned reference into it.
  T** out() noexcept {
    reset();
    return &ref_;
  }

 private:
  explicit Handle(T* ref) noexcept : ref_(ref) {}
  T* ref_ = nullptr;
};

}  // namespace platform
