// An owned GObject reference: moving hands it over, destruction unrefs it.
#pragma once

#include <glib-object.h>

#include <utility>

namespace corvane {

template <class T>
class GObjectPtr {
 public:
  GObjectPtr() noexcept = default;
  // Takes over a reference the caller owns (a "transfer full" result).
  static GObjectPtr adopt(T* owned) noexcept { return GObjectPtr(owned); }
  // Becomes another owner of a borrowed object.
  static GObjectPtr retain(T* borrowed) noexcept {
    if (borrowed) g_object_ref(borrowed);
    return GObjectPtr(borrowed);
  }

  GObjectPtr(GObjectPtr&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  GObjectPtr& operator=(GObjectPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  GObjectPtr(const GObjectPtr&) = delete;
  GObjectPtr& operator=(const GObjectPtr&) = delete;
  ~GObjectPtr() { reset(); }

  T* get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }
  void reset() noexcept {
    if (T* ref = std::exchange(ref_, nullptr)) g_object_unref(ref);
  }

 private:
  explicit GObjectPtr(T* ref) noexcept : ref_(ref) {}
  T* ref_ = nullptr;
};

}  // namespace corvane
