// Whole-file reads for every loader, on the per-system file primitives.
#include <array>
#include <new>

#include "platform/platform.h"

namespace vesk::platform {

template <typename Bytes>
ReadFailure ReadFileInto(const std::u16string& path, Bytes& content,
                         uint64_t sizeLimit) {
  content.clear();
  OwnedFile file(OpenFile(path, "rb"));
  if (!file) return ReadFailure::kCannotOpen;
  const auto failed = [&content](ReadFailure failure) {
    content.clear();
    return failure;
  };

  const int64_t size = FileSizeFromEnd(file.get());
  if (size >= 0 && SeekTo(file.get(), 0)) {
    if (uint64_t(size) >= sizeLimit || uint64_t(size) > content.max_size()) {
      return ReadFailure::kTooLarge;
    }
    // A file too large for memory is a file that cannot be read.
    try {
      content.resize(std::size_t(size));
    } catch (const std::bad_alloc&) {
      return failed(ReadFailure::kCannotRead);
    }
    const std::size_t got =
        std::fread(content.data(), 1, content.size(), file.get());
    content.resize(got);
  } else {
    std::clearerr(file.get());
    if (!SeekTo(file.get(), 0)) std::rewind(file.get());
  }
  std::array<char, 65536> chunk;
  try {
    while (const std::size_t got =
               std::fread(chunk.data(), 1, chunk.size(), file.get())) {
      if (content.size() + got >= sizeLimit) {
        return failed(ReadFailure::kTooLarge);
      }
      content.insert(content.end(), chunk.data(), chunk.data() + got);
    }
  } catch (const std::bad_alloc&) {
    return failed(ReadFailure::kCannotRead);
  }
  if (std::ferror(file.get())) return failed(ReadFailure::kCannotRead);
  return ReadFailure::kNone;
}

template ReadFailure ReadFileInto(const std::u16string&, std::string&,
                                  uint64_t);
template ReadFailure ReadFileInto(const std::u16string&, std::vector<uint8_t>&,
                                  uint64_t);

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path) {
  std::vector<uint8_t> bytes;
  if (ReadFileInto(path, bytes) != ReadFailure::kNone) return std::nullopt;
  return bytes;
}

}  // namespace vesk::platform
