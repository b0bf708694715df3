#include "platform/handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

struct Counted {
  int refs = 1;
  int releases = 0;
};

struct CountingTraits {
  static void retain(const void* p) noexcept { ++static_cast<Counted*>(const_cast<void*>(p))->refs; }
  static void release(const void* p) noexcept {
    auto* c = static_cast<Counted*>(const_cast<void*>(p));
    --c->refs;
    ++c->releases;
  }
};

using H = platform::Handle<Counted, CountingTraits>;

TEST(Handle, AdoptTakesOverWithoutRetainAndReleasesOnce) {
  Counted c;
  {
    H h = H::adopt(&c);
    EXPECT_EQ(c.refs, 1);
    EXPECT_EQ(h.get(), &c);
  }
  EXPECT_EQ(c.refs, 0);
  EXPECT_EQ(c.releases, 1);
}

TEST(Handle, RetainAddsAnOwnerAndShareMakesASecondOne) {
  Counted c;
  {
    H borrowed = H::retain(&c);
    EXPECT_EQ(c.refs, 2);
    H second = borrowed.share();
    EXPECT_EQ(c.refs, 3);
  }
  EXPECT_EQ(c.refs, 1);
}

TEST(Handle, MovesTransferTheOneReference) {
  Counted a, b;
  H x = H::adopt(&a);
  H y(std::move(x));
  EXPECT_FALSE(x);
  EXPECT_EQ(y.get(), &a);
  EXPECT_EQ(a.refs, 1);

  H z = H::adopt(&b);
  z = std::move(y);  // b is released, a moves over
  EXPECT_EQ(b.refs, 0);
  EXPECT_EQ(a.refs, 1);
  EXPECT_EQ(z.get(), &a);
}

TEST(Handle, SelfMoveAssignmentKeepsTheReference) {
  Counted c;
  H h = H::adopt(&c);
  H& alias = h;
  h = std::move(alias);
  EXPECT_EQ(h.get(), &c);
  EXPECT_EQ(c.refs, 1);
  EXPECT_EQ(c.releases, 0);
}

TEST(Handle, ReleaseHandsOwnershipOutAndResetDrops) {
  Counted c;
  H h = H::adopt(&c);
  Counted* raw = h.release();
  EXPECT_FALSE(h);
  EXPECT_EQ(c.releases, 0);
  H again = H::adopt(raw);
  again.reset();
  again.reset();  // a second reset is a no-op
  EXPECT_EQ(c.releases, 1);
}

TEST(Handle, OutParameterDropsThePreviousReference) {
  Counted old, fresh;
  H h = H::adopt(&old);
  *h.out() = &fresh;  // as a Copy(..., &out) call would
  EXPECT_EQ(old.refs, 0);
  EXPECT_EQ(h.get(), &fresh);
  EXPECT_EQ(fresh.refs, 1);
}

TEST(Handle, NullIsEmptyEverywhere) {
  H a = H::adopt(nullptr);
  H b = H::retain(nullptr);
  H c = a.share();
  EXPECT_FALSE(a);
  EXPECT_FALSE(b);
  EXPECT_FALSE(c);
}

}  // namespace
