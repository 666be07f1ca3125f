// Operating-system services the engine needs; one implementation per OS
// (posix/, win32/). Nothing here calls back into the engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// Sizes buffer to size bytes (zero-filled) for one large read. Where the
// system allows, the memory is backed by large pages: filling a voice file's
// worth page by page costs many times more on some virtual machines.
void ResizeForLargeRead(std::vector<uint8_t>& buffer, std::size_t size);

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
// the measured size (large pages where the system allows), then whatever
// lies beyond it (a file still growing, or one whose size cannot be told,
// such as a pipe). content is left empty on failure.
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
