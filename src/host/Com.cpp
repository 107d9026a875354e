#include <varnel/Com.h>

#include "host/Components.h"

#include <mutex>
#include <new>
#include <vector>

namespace varnel {
namespace {

struct ComponentClass {
  Guid clsid;
  ComponentFactory factory;
};

// A handful of classes: a linear scan under a lock is all the table needs.
struct ClassTable {
  std::mutex lock;
  std::vector<ComponentClass> classes;
};

ClassTable& Table() {
  static ClassTable table;
  return table;
}

std::once_flag builtinsOnce;
// Set while RegisterBuiltinComponents runs, so its own RegisterComponent calls do not wait on
// the once-flag they are running under.
thread_local bool registeringBuiltins = false;

// Built-ins are registered on first use rather than by static constructors, whose order (and
// whether they are linked at all from a static library) is not guaranteed. Because every
// registration waits for them, an explicit registration always replaces a built-in one.
void EnsureBuiltins() {
  if (registeringBuiltins) return;
  std::call_once(builtinsOnce, [] {
    struct Flag {
      Flag() { registeringBuiltins = true; }
      ~Flag() { registeringBuiltins = false; }
    } flag;
    RegisterBuiltinComponents();
  });
}

ComponentFactory FindFactory(const Guid& clsid) {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> hold(table.lock);
  for (const ComponentClass& entry : table.classes)
    if (entry.clsid == clsid) return entry.factory;
  return nullptr;
}

}  // namespace

ComponentFactory RegisterComponent(const Guid& clsid, ComponentFactory factory) {
  EnsureBuiltins();
  ClassTable& table = Table();
  std::lock_guard<std::mutex> hold(table.lock);
  for (auto entry = table.classes.begin(); entry != table.classes.end(); ++entry) {
    if (entry->clsid == clsid) {
      ComponentFactory previous = entry->factory;
      if (factory) entry->factory = factory;
      else table.classes.erase(entry);
      return previous;
    }
  }
  if (factory) table.classes.push_back({clsid, factory});
  return nullptr;
}

// Any context is accepted: every class here lives in the calling process.
HRESULT HalvexCreateInstance(const Guid& clsid, IUnknown* outer, uint32_t /*context*/, const Guid& iid,
                             void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  EnsureBuiltins();
  ComponentFactory factory = FindFactory(clsid);
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  IUnknown* created;
  try {
    created = factory();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!created) return E_OUTOFMEMORY;
  // The query takes its own reference; dropping the creator's one leaves exactly that, or
  // destroys the object when the interface is not supported.
  void* asked = nullptr;
  HRESULT result = created->QueryInterface(iid, &asked);
  created->Release();
  if (result < 0 || !asked) return result < 0 ? result : E_NOINTERFACE;
  *object = asked;
  return result;
}

}  // namespace varnel
