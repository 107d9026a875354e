// A small reference-counted component model: class and interface ids, IUnknown with
// query-interface semantics, and HalvexCreateInstance. Interfaces declare no virtual
// destructor, so their virtual slots are exactly the declared methods (IUnknown's three first).
#pragma once

#include <cstdint>

namespace varnel {

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr uint32_t CLSCTX_ALL = 23;

struct Guid {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
  friend bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.data4[i] != b.data4[i]) return false;
    return true;
  }
};

constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(const Guid& iid, void** object) = 0;  // slot 0
  virtual uint32_t AddRef() = 0;                                       // slot 1
  virtual uint32_t Release() = 0;                                      // slot 2
};

// Creates a component of class `clsid` and stores an AddRef'ed `iid` interface in *object.
// Negative result: failure, *object null, nothing left behind. Aggregation is not supported.
HRESULT HalvexCreateInstance(const Guid& clsid, IUnknown* outer, uint32_t context, const Guid& iid,
                             void** object);

// A component class: creates one object and returns its IUnknown with one reference.
using ComponentFactory = IUnknown* (*)();
// Adds a class to the table HalvexCreateInstance consults (later registrations of the same id win).
void RegisterComponent(const Guid& clsid, ComponentFactory factory);

// Reference counting and query-interface for a component implemented by one C++ class.
// Derive from it and from the interfaces, implement QueryInterface with QueryOne.
class ComObject {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  uint32_t AddRefObject() { return ++references_; }
  uint32_t ReleaseObject() {
    uint32_t left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  uint32_t references_ = 1;
};

}  // namespace varnel
