// A small reference-counted component model: class and interface ids, IUnknown with
// query-interface semantics, and HalvexCreateInstance. Interfaces declare no virtual
// destructor, so their virtual slots are exactly the declared methods (IUnknown's three first).
#pragma once

#include <atomic>
#include <cstdint>

#include <varnel/Export.h>

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
VARNEL_API HRESULT HalvexCreateInstance(const Guid& clsid, IUnknown* outer, uint32_t context, const Guid& iid,
                             void** object);

// A component class: creates one object and returns its IUnknown with one reference.
using ComponentFactory = IUnknown* (*)();
// Adds a class to the table HalvexCreateInstance consults. A later registration of the same id
// replaces the earlier one (also a built-in one) and a null factory removes the class; the
// factory replaced is returned (null when there was none), so a test can put it back.
VARNEL_API ComponentFactory RegisterComponent(const Guid& clsid, ComponentFactory factory);

// Reference counting for a component implemented by one C++ class. Derive from it and from
// the interfaces; forward AddRef/Release to AddRefObject/ReleaseObject and implement
// QueryInterface with QueryOne and NoInterface:
//
//   HRESULT QueryInterface(const Guid& iid, void** object) override {
//     if (iid == IID_IUnknown || iid == IID_IDownloader)
//       return QueryOne(static_cast<IDownloader*>(this), object);
//     return NoInterface(object);
//   }
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
  std::atomic<uint32_t> references_ = 1;  // the creator's reference
};

// The successful end of a QueryInterface: hands out `itf` with one more reference.
template <class Interface>
HRESULT QueryOne(Interface* itf, void** object) {
  if (!object) return E_POINTER;
  itf->AddRef();
  *object = itf;
  return S_OK;
}

// The failing end of a QueryInterface: *object null, E_NOINTERFACE.
inline HRESULT NoInterface(void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  return E_NOINTERFACE;
}

}  // namespace varnel
