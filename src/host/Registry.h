// The per-user settings store, keyed like a registry.
#pragma once

#include <varnel/String.h>

namespace varnel {

// Registry root keys; only the current user's store exists here.
enum class RegistryRoot { CurrentUser };
constexpr RegistryRoot HKEY_CURRENT_USER = RegistryRoot::CurrentUser;

// Integer stored under the per-user key path and value name, or `fallback` when missing or malformed.
int GetRegInt(const String& keyPath, const String& valueName, int fallback, RegistryRoot root);

}  // namespace varnel
