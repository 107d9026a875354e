#include <gtest/gtest.h>

#include "host/Com.h"

namespace varnel {
namespace {

constexpr Guid CLSID_Counter = {0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr Guid CLSID_Missing = {0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 9}};
constexpr Guid IID_ICounter = {0x1A2B3C4E, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr Guid IID_INamed = {0x1A2B3C4F, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr Guid IID_IOther = {0x1A2B3C50, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ICounter : IUnknown {
  virtual int Next() = 0;
};
struct INamed : IUnknown {
  virtual const char* Name() = 0;
};

int liveCounters = 0;

class Counter final : public ComObject, public ICounter, public INamed {
 public:
  Counter() { ++liveCounters; }
  ~Counter() override { --liveCounters; }
  HRESULT QueryInterface(const Guid& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_ICounter) return QueryOne(static_cast<ICounter*>(this), object);
    if (iid == IID_INamed) return QueryOne(static_cast<INamed*>(this), object);
    return NoInterface(object);
  }
  uint32_t AddRef() override { return AddRefObject(); }
  uint32_t Release() override { return ReleaseObject(); }
  int Next() override { return ++value_; }
  const char* Name() override { return "counter"; }

 private:
  int value_ = 0;
};

IUnknown* CreateCounter() { return static_cast<ICounter*>(new Counter); }
IUnknown* CreateNothing() { return nullptr; }

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = RegisterComponent(CLSID_Counter, CreateCounter); }
  void TearDown() override {
    RegisterComponent(CLSID_Counter, previous_);
    EXPECT_EQ(liveCounters, 0);
  }
  ComponentFactory previous_ = nullptr;
};

TEST_F(ComTest, CreatesAndCountsReferences) {
  void* raw = reinterpret_cast<void*>(1);
  ASSERT_EQ(HalvexCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_IUnknown, &raw), S_OK);
  IUnknown* unknown = static_cast<IUnknown*>(raw);
  EXPECT_EQ(liveCounters, 1);

  void* counterRaw = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_ICounter, &counterRaw), S_OK);
  ICounter* counter = static_cast<ICounter*>(counterRaw);
  EXPECT_EQ(counter->Next(), 1);
  EXPECT_EQ(counter->Next(), 2);
  void* namedRaw = nullptr;
  ASSERT_EQ(counter->QueryInterface(IID_INamed, &namedRaw), S_OK);
  EXPECT_STREQ(static_cast<INamed*>(namedRaw)->Name(), "counter");

  EXPECT_EQ(unknown->Release(), 2u);
  EXPECT_EQ(static_cast<INamed*>(namedRaw)->Release(), 1u);
  EXPECT_EQ(liveCounters, 1);
  EXPECT_EQ(counter->Release(), 0u);
  EXPECT_EQ(liveCounters, 0);
}

TEST_F(ComTest, FailuresLeaveNoObject) {
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(HalvexCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_IOther, &raw), E_NOINTERFACE);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(liveCounters, 0);

  raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(HalvexCreateInstance(CLSID_Missing, nullptr, CLSCTX_ALL, IID_IUnknown, &raw),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(raw, nullptr);

  Counter* outerObject = new Counter;
  ICounter* outer = outerObject;
  raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(HalvexCreateInstance(CLSID_Counter, outer, CLSCTX_ALL, IID_IUnknown, &raw), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(raw, nullptr);
  outer->Release();

  EXPECT_EQ(HalvexCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(liveCounters, 0);
}

TEST_F(ComTest, RegistrationReplacesAndRemoves) {
  EXPECT_EQ(RegisterComponent(CLSID_Counter, CreateNothing), CreateCounter);
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(HalvexCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_IUnknown, &raw), E_OUTOFMEMORY);
  EXPECT_EQ(raw, nullptr);

  EXPECT_EQ(RegisterComponent(CLSID_Counter, nullptr), CreateNothing);
  EXPECT_EQ(HalvexCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_IUnknown, &raw),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(RegisterComponent(CLSID_Counter, CreateCounter), nullptr);
}

}  // namespace
}  // namespace varnel
