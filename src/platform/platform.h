// Operating-system services the engine needs; one implementation per OS
// (posix/, win32/). Nothing here calls back into the engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace vesk::platform {

// How a callback pointer's memory is classified.
struct MemoryRegion {
  bool committed = false;   // mapped / MEM_COMMIT
  bool writable = false;    // write permission (incl. copy-on-write)
  bool executable = false;  // execute permission
  // Part of a loaded image or a mapped file (MEM_IMAGE, MEM_MAPPED; on
  // POSIX a file-backed mapping), as opposed to private memory (MEM_PRIVATE;
  // an anonymous mapping), where run-time code generators put their code.
  bool fileBacked = false;
};

// Queries the region holding address; nullopt when the query fails.
std::optional<MemoryRegion> QueryMemory(const void* address);

// Reads a pointer-sized value at address; nullopt when the read faults.
std::optional<uintptr_t> ReadPointer(const void* address);

// Full path of the file of the module (shared library / DLL) that contains
// address; nullopt when it cannot be found.
std::optional<std::u16string> ModulePathOf(const void* address);

// A thread started by StartThread; empty (started == false) otherwise.
struct Thread {
  bool started = false;
  uintptr_t handle = 0;  // pthread_t / HANDLE
  uint32_t id = 0;       // Windows thread id
};

// Runs fn(context) on a new thread; an empty Thread when it cannot start.
// A host that unloads the library while the thread runs never pulls the code
// from under it: on Windows the thread holds a reference to the library until
// it has left it; elsewhere the unload waits for it (ReleaseThreadAtUnload)
// and a thread let go from inside itself pins the library (DetachThread).
Thread StartThread(void (*fn)(void*), void* context);

// Whether the caller is the thread itself.
bool IsCurrentThread(const Thread& thread);

// Waits until the thread has ended, then empties the record.
void JoinThread(Thread& thread);

// Lets the thread run on unwatched and empties the record. Called on the
// thread itself, it keeps the library loaded until the thread has left it.
void DetachThread(Thread& thread);

// Disposes of a worker while the library is being unloaded: waits for it
// where the system allows waiting there, lets it go where it does not (under
// the Windows loader lock a thread cannot even finish exiting, and one that
// still ran the library's code would hold the library loaded).
void ReleaseThreadAtUnload(Thread& thread);

// Whether the library is being unloaded because the process is ending. On
// Windows the other threads are gone by then, possibly holding locks, and
// the system reclaims everything: the unload must not touch any of it.
bool ProcessIsExiting();

// UTF-8 bytes to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 to UTF-8; lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// File-system paths are held as UTF-16 strings and given to the system in
// its own form, byte for byte as it named them: on Windows they are UTF-16
// already (unpaired surrogates included); on POSIX, where names are bytes,
// valid UTF-8 becomes its characters and every other byte b the lone
// surrogate U+DC00 + b, which no valid UTF-8 yields.
std::filesystem::path NativePath(std::u16string_view path);
std::u16string PathText(const std::filesystem::path& path);

// Text on its way to the host (voice names, log lines): on POSIX the lone
// surrogates that stand for a name's undecodable bytes become U+FFFD; on
// Windows names reach the host as the file system holds them.
std::u16string HostText(std::u16string_view text);

// Opens a file named by a UTF-16 path, in binary mode ("rb", "wb").
std::FILE* OpenFile(const std::u16string& path, const char* mode);

// Size of an open file in 64 bits (the position after seeking to its end),
// or -1 when it cannot be determined. Leaves the position at the end.
int64_t FileSizeFromEnd(std::FILE* file);

// Seeks an open file to an absolute 64-bit position; false on failure.
bool SeekTo(std::FILE* file, int64_t position);

// Memory for a buffer that one large read fills (a voice file), and its
// release. Where the system allows, a large buffer starts on a large-page
// boundary and its whole large pages are backed by large pages: filling a
// voice file's worth page by page costs many times more on some virtual
// machines, and a buffer that starts anywhere loses up to two large pages
// at its ends.
void* AllocateForLargeRead(std::size_t size);
void ReleaseLargeRead(void* memory, std::size_t size) noexcept;

// The allocator of such a buffer: its memory comes from AllocateForLargeRead,
// and elements of a trivial type are left uninitialised when it grows, so
// that the bytes the read overwrites are not first written with zeros.
template <typename T>
struct LargeReadAllocator {
  using value_type = T;

  LargeReadAllocator() = default;
  template <typename U>
  LargeReadAllocator(const LargeReadAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    return static_cast<T*>(AllocateForLargeRead(count * sizeof(T)));
  }
  void deallocate(T* memory, std::size_t count) noexcept {
    ReleaseLargeRead(memory, count * sizeof(T));
  }
  template <typename U>
  void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }

  template <typename U>
  friend bool operator==(const LargeReadAllocator&,
                         const LargeReadAllocator<U>&) noexcept {
    return true;
  }
};

// The bytes of a file read whole in one read (a voice file).
using FileBytes = std::vector<uint8_t, LargeReadAllocator<uint8_t>>;

// Closes a file opened by OpenFile when its owner goes.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// Why a whole-file read gave nothing.
enum class ReadFailure {
  kNone,
  kCannotOpen,  // missing, unreadable, or a directory
  kTooLarge,    // measured at or above the limit: refused without reading
  kCannotRead,  // no memory for it, or the system reported a read error
};

// Reads the whole file at path into content (std::string or
// std::vector<uint8_t>), replacing what it held: one read into a buffer of
// the measured size, then whatever lies beyond it (a file still growing, or
// one whose size cannot be told, such as a pipe). content is left empty on
// failure.
template <typename Bytes>
ReadFailure ReadFileInto(const std::u16string& path, Bytes& content,
                         uint64_t sizeLimit = UINT64_MAX);

// Whole content of the file at path; nullopt when it cannot be opened or
// read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path);

// Path operations on UTF-16 paths, with the separators of the system: '/'
// everywhere, '\\' too on Windows.

// A file name without an alternate-data-stream suffix (cut at its first ':').
std::u16string_view WithoutStreamSuffix(std::u16string_view fileName);

// The part from the last '.' on; none for ".", ".." and a name whose only
// '.' is its first character.
std::u16string_view FileExtension(std::u16string_view fileName);

// The file name (without stream suffix) without its extension.
std::u16string_view FileStem(std::u16string_view fileName);

// The directory holding path: the last element and the separators before it
// removed, the root kept (on Windows a drive's root, "C:\\", too).
std::u16string ParentDirectory(std::u16string_view path);

// directory and name joined by the system's separator.
std::u16string JoinPath(const std::u16string& directory,
                        std::u16string_view name);

// Runs fn(context) and reports whether it returned normally. A fault raised
// inside it (access violation / SIGSEGV / SIGBUS, a C++ exception) is caught
// and discarded where that can be done safely.
bool CallGuarded(void (*fn)(void*), void* context);

}  // namespace vesk::platform
