// Memory for the platform tests to classify and fault on, made with the
// system's own calls (mmap, VirtualAlloc): the contract tests run on both
// halves of the platform layer with the same pages.
#pragma once

#include <string>

namespace vesk::test {

enum class Access { kNone, kReadWrite, kReadWriteExecute };

// One page of private memory with the given access, released when the
// object goes; get() is null when the system refused it.
class Page {
 public:
  explicit Page(Access access);
  ~Page();
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;
  void* get() const { return address_; }

 private:
  void* address_ = nullptr;
};

// An address that was mapped and is not any more.
const void* ReleasedAddress();

// The running program's own file, as the system names it.
std::u16string ExecutablePath();

}  // namespace vesk::test
