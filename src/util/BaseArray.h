// Growable array over the C heap with non-owning views. Every list of the library is one.
// Growth, shrink and the thrown texts are part of the contract: callers and tests rely on
// the exact capacities, so do not "improve" the arithmetic.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace varnel {

// Stand-in for the process heap handle; storage always comes from malloc/free.
using HeapHandle = void*;
inline HeapHandle ProcessHeap() { return reinterpret_cast<HeapHandle>(static_cast<intptr_t>(1)); }

// Selects the constructor that leaves an array without storage (it allocates on first Add).
struct NoStorage {};

template <class T>
class BaseArray {
  static_assert(std::is_trivially_copyable_v<T>, "BaseArray moves elements with memcpy");
  static constexpr int64_t kElement = sizeof(T);
  static constexpr int64_t kMaxBytes = 0x7FFFFFFF;

 public:
  // Always the process heap: a constant, not a per-array field.
  inline static const HeapHandle heap = ProcessHeap();
  T* data = nullptr;
  int32_t count = 0;
  int32_t reserved = 0;
  bool ownsBuffer = true;

  BaseArray() {
    data = Allocate(64);
    if (!data) throw std::bad_alloc();
    reserved = static_cast<int32_t>(64 / kElement);
  }

  explicit BaseArray(NoStorage) {}

  explicit BaseArray(int32_t reserveCount) {
    if (static_cast<uint32_t>(reserveCount) > 0x7FFFFFFFu)
      throw std::out_of_range("value out of range of the long");
    int64_t bytes = kElement * reserveCount + kElement;
    if (bytes > kMaxBytes) throw std::out_of_range("BaseArray cReservedElements");
    bytes = RoundUp(bytes, reserveCount <= 256 ? 64 : 1024);
    data = Allocate(bytes);
    if (!data) throw std::bad_alloc();
    reserved = static_cast<int32_t>(bytes / kElement);
  }

  BaseArray(const BaseArray&) = delete;
  BaseArray& operator=(const BaseArray&) = delete;

  ~BaseArray() {
    if (ownsBuffer && data) std::free(data);
  }

  T& operator[](int32_t i) { return data[i]; }
  const T& operator[](int32_t i) const { return data[i]; }
  T* begin() { return data; }
  T* end() { return data + (count > 0 ? count : 0); }
  const T* begin() const { return data; }
  const T* end() const { return data + (count > 0 ? count : 0); }

  void Add(const T& value) {
    if (count < 0) throw std::out_of_range("value outside of BaseArray bounds");
    if (count == 0) {
      if (!ownsBuffer) {
        if (reserved < 1) throw "Reserved is less than elements";
      } else if (reserved < 1) {
        std::free(data);
        data = Allocate(64);
        if (!data) {
          reserved = 0;
          return;
        }
        reserved = static_cast<int32_t>(64 / kElement);
      }
      data[0] = value;
      count = 1;
      return;
    }
    if (reserved > count) {
      data[count++] = value;
      return;
    }
    if (!ownsBuffer) return;
    int64_t minimum = (static_cast<int64_t>(reserved) + 2) * kElement;
    if (minimum > kMaxBytes) return;
    int64_t bytes = GrownBytes(reserved);
    T* grown = Allocate(bytes);
    if (!grown) return;
    std::memcpy(static_cast<void*>(grown), data, static_cast<size_t>(count) * kElement);
    grown[count] = value;
    std::free(data);
    data = grown;
    reserved = static_cast<int32_t>(bytes / kElement);
    ++count;
  }

  // The block Add grows to: half again as large, at least 64 bytes and two elements more. Where
  // half again passes the 31-bit cap, growth would go on two elements at a time, copying the
  // whole array for every element added; the block goes at once to the size those steps end at,
  // so the same elements fit and none is copied more than once.
  static int64_t GrownBytes(int32_t reserved) {
    int64_t minimum = (static_cast<int64_t>(reserved) + 2) * kElement;
    int64_t bytes = ((static_cast<int64_t>(reserved) + 1) * 3 / 2) * kElement;
    if (bytes < 64) bytes = 64;
    if (bytes <= kMaxBytes) return bytes < minimum ? minimum : bytes;
    int64_t steps = (kMaxBytes / kElement - reserved) / 2;
    return (static_cast<int64_t>(reserved) + 2 * steps) * kElement;
  }

  // Add with its common case (an element after the first, room left) inline: the number lists
  // append millions of values.
  [[gnu::always_inline]] void Append(T value) {
    if (count > 0 && count < reserved) data[count++] = value;
    else AddOutOfLine(value);
  }

  // Appends 16 elements (a 4x4 matrix of doubles).
  void AppendBlock(const T* values) {
    if (count < 0) throw std::out_of_range("value outside of BaseArray bounds");
    if (count == 0) {
      if (!ownsBuffer) {
        if (reserved < 16) throw "Reserved is less than elements";
      } else if (reserved < 16) {
        std::free(data);
        data = Allocate(192);
        if (!data) {
          reserved = 0;
          return;
        }
        reserved = static_cast<int32_t>(192 / kElement);
      }
      std::memcpy(static_cast<void*>(data), values, 16 * kElement);
      count = 16;
      return;
    }
    if (reserved >= count + 16) {
      std::memcpy(static_cast<void*>(data + count), values, 16 * kElement);
      count += 16;
      return;
    }
    if (!ownsBuffer) throw "You do not own the buffer!";
    int64_t bytes = ((static_cast<int64_t>(reserved) + 16) * 3 / 2) * kElement;
    int64_t minimum = (static_cast<int64_t>(reserved) + 17) * kElement;
    if (bytes < 64) bytes = 64;
    if (bytes < minimum || bytes > kMaxBytes) bytes = minimum;
    T* grown = Allocate(bytes);
    if (!grown) return;
    std::memcpy(static_cast<void*>(grown), data, static_cast<size_t>(count) * kElement);
    std::memcpy(static_cast<void*>(grown + count), values, 16 * kElement);
    std::free(data);
    data = grown;
    count += 16;
    reserved = static_cast<int32_t>(bytes / kElement);
  }

  void RemoveBlock(int32_t index, int32_t n) {
    if (count == 0 || data == nullptr) throw "Cannot call Remove on empty BaseArray";
    // A negative run would move elements from before the storage and grow `count`.
    if (index < 0 || n < 0 || count < n) throw std::out_of_range("value outside of BaseArray bounds");
    if (static_cast<int64_t>(index) + n > count) {
      index = count - n;
      if (index < 0) throw std::out_of_range("value cannot be negative");
    }
    std::memmove(static_cast<void*>(data + index), data + index + n,
                 static_cast<size_t>(count - index - n) * kElement);
    count -= n;
    if (ownsBuffer && static_cast<int64_t>(count) + 128 < reserved &&
        static_cast<int64_t>(count) * 3 / 2 < reserved) {
      int64_t exact = (static_cast<int64_t>(count) + 1) * kElement;
      int64_t bytes = RoundUp(exact, count <= 128 ? 64 : 1024);
      T* shrunk = Allocate(bytes);
      if (!shrunk) return;
      std::memcpy(static_cast<void*>(shrunk), data, static_cast<size_t>(count) * kElement);
      std::free(data);
      data = shrunk;
      reserved = static_cast<int32_t>(bytes / kElement);
    }
  }

  // Becomes a view of n elements of someone else's storage; never grows or frees them.
  void Attach(T* storage, int32_t n) {
    if (n < 0) throw std::out_of_range("value cannot be negative");
    if (ownsBuffer && data) std::free(data);
    data = storage;
    count = reserved = n;
    ownsBuffer = false;
  }

  // View of another array's elements; an empty source leaves this array empty and owning.
  void AttachTo(const BaseArray& other) { AttachTo(other, other.count); }
  void AttachTo(const BaseArray& other, int32_t n) {
    RemoveAll();
    if (other.count > 0 && n > 0) Attach(other.data, n < other.count ? n : other.count);
  }

  // Drops the elements (freeing owned storage) and owns fresh room, as BaseArray(n) gives it.
  void Renew(int32_t n) {
    BaseArray fresh(n);
    Swap(fresh);
  }

  // Moves owned elements into storage sized as BaseArray(count) gives it.
  void FitToCount() {
    BaseArray fitted(count);
    std::memcpy(static_cast<void*>(fitted.data), data, static_cast<size_t>(count) * kElement);
    fitted.count = count;
    Swap(fitted);
  }

  void Swap(BaseArray& other) noexcept {
    std::swap(data, other.data);
    std::swap(count, other.count);
    std::swap(reserved, other.reserved);
    std::swap(ownsBuffer, other.ownsBuffer);
  }

  void RemoveAll() {
    if (ownsBuffer && data) std::free(data);
    data = nullptr;
    count = reserved = 0;
    ownsBuffer = true;
  }

  // Empties the array but keeps owned storage for reuse.
  void Clear() {
    if (ownsBuffer) count = 0;
    else RemoveAll();
  }

 private:
  [[gnu::noinline]] void AddOutOfLine(T value) { Add(value); }
  static T* Allocate(int64_t bytes) { return static_cast<T*>(std::malloc(static_cast<size_t>(bytes))); }
  // Rounds up to a multiple of `unit`; keeps the exact size when rounding leaves 31 bits.
  static int64_t RoundUp(int64_t bytes, int64_t unit) {
    int64_t rounded = (bytes + unit - 1) / unit * unit;
    return rounded > kMaxBytes ? bytes : rounded;
  }
};

}  // namespace varnel
