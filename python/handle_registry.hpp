#pragma once

#include "core/object.hpp"

#include <memory>
#include <unordered_map>

// Live library objects that Python objects refer to, keyed by the address of
// the object itself. Only touched with the interpreter lock held.
extern std::unordered_map<void*, std::shared_ptr<const tsr::Object>> pool;

namespace tsr {

// Stores the object under its own address and returns that address.
template <class T> void* registerHandle(std::shared_ptr<const T> object) {
    void* handle = const_cast<void*>(static_cast<const void*>(object.get()));
    pool[handle] = std::move(object);
    return handle;
}

// The object under the handle as a T, held for the length of the call; empty
// when the handle is unknown or names an object of another class.
template <class T> std::shared_ptr<const T> resolveHandle(void* handle) {
    const auto found = pool.find(handle);
    if (found == pool.end()) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<const T>(found->second);
}

// Drops the registry entry; unknown and null handles are ignored.
inline void releaseHandle(void* handle) noexcept {
    pool.erase(handle);
}

} // namespace tsr
