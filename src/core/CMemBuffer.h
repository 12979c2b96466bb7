#pragma once
// Growable, zero-filled byte buffer. A failed allocation leaves the buffer
// empty (null data, size 0) instead of throwing, so callers check Size().

#include <cstddef>
#include <cstdint>

namespace tav {

class CMemBuffer {
 public:
  CMemBuffer() = default;
  CMemBuffer(const CMemBuffer&) = delete;
  CMemBuffer& operator=(const CMemBuffer&) = delete;
  CMemBuffer(CMemBuffer&& other) noexcept;
  CMemBuffer& operator=(CMemBuffer&& other) noexcept;
  virtual ~CMemBuffer();

  // Releases any held block and allocates n zero-filled bytes.
  bool Allocate(std::size_t n);
  // Resizes to n bytes keeping the contents; added bytes are zero. On failure
  // the old block is released and the buffer becomes empty.
  bool Grow(std::size_t n);
  void Release();

  char* Data() { return data_; }
  const char* Data() const { return data_; }
  std::int32_t Size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::int32_t size_ = 0;
};

// Plain byte buffer on the general heap, used by the page clean-up steps.
class Cbuffer {
 public:
  Cbuffer() = default;
  explicit Cbuffer(std::size_t n);
  Cbuffer(const Cbuffer&) = delete;
  Cbuffer& operator=(const Cbuffer&) = delete;
  virtual ~Cbuffer();

  char* Data() { return data_; }
  std::size_t Size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace tav
