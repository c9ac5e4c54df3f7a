#pragma once

#include <utility>

namespace trident {

// Owns one file descriptor (the C runtime's on Windows): closed when the owner goes, handed on
// when it moves. Every descriptor the product holds lives in one of these, so a constructor that
// throws halfway, or an early return, leaks none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes what is held and holds `fd` instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace trident
