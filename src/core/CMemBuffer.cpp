#include "core/CMemBuffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace tav {
namespace {
constexpr std::size_t kMaxSize = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
}

CMemBuffer::CMemBuffer(CMemBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

CMemBuffer& CMemBuffer::operator=(CMemBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

CMemBuffer::~CMemBuffer() { Release(); }

bool CMemBuffer::Allocate(std::size_t n) {
  Release();
  if (n == 0 || n > kMaxSize) return false;
  data_ = static_cast<char*>(std::calloc(n, 1));
  if (data_ == nullptr) return false;
  size_ = static_cast<std::int32_t>(n);
  return true;
}

bool CMemBuffer::Grow(std::size_t n) {
  if (data_ == nullptr) return Allocate(n);
  if (n == 0 || n > kMaxSize) {
    Release();
    return false;
  }
  auto* grown = static_cast<char*>(std::realloc(data_, n));
  if (grown == nullptr) {
    Release();
    return false;
  }
  if (n > static_cast<std::size_t>(size_)) {
    std::memset(grown + size_, 0, n - static_cast<std::size_t>(size_));
  }
  data_ = grown;
  size_ = static_cast<std::int32_t>(n);
  return true;
}

void CMemBuffer::Release() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
}

Cbuffer::Cbuffer(std::size_t n) : data_(static_cast<char*>(std::calloc(n ? n : 1, 1))), size_(data_ ? n : 0) {}

Cbuffer::~Cbuffer() {
  std::free(data_);
  size_ = 0;
}

}  // namespace tav
