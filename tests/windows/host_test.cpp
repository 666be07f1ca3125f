// What only a Windows host sees of the DLL: its PE export and import
// tables, names with unpaired surrogates, structured exceptions in its
// callbacks, run-time thunks in private executable memory, the installed
// package, and FreeLibrary under the loader lock. Everything a host sees on
// every system is in tests/host/, built into this program as well.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

int32_t Letter(char letter) { return LetterUnit(letter); }

// A voice with the letter units a..e, the punctuation unit and the unit of
// the syllable zhong1, each a marker run of 100 samples.
std::vector<uint8_t> SmallMarkerVoice(int32_t sampleRate = 16000) {
  std::vector<int32_t> units = {kPunctuationUnit,
                                SyllableUnitIndex("zhong", 1)};
  for (char c = 'a'; c <= 'e'; ++c) units.push_back(Letter(c));
  return BuildMarkerVoice(sampleRate, units, 100);
}

// A unit of three seconds arrives in three one-second chunks.
std::vector<uint8_t> LongVoice() {
  return BuildMarkerVoice(8000, {Letter('a')}, 3 * 8000);
}

// The unit index of each delivered sample run, in order (marker voices hold
// the unit's index in every sample).
std::vector<int32_t> UnitsPlayed(const std::vector<PlayCall>& calls) {
  std::vector<int32_t> units;
  for (const auto& call : calls) {
    for (int16_t sample : call.samples) {
      if (units.empty() || units.back() != sample) units.push_back(sample);
    }
  }
  return units;
}

HMODULE ModuleOf(const HostLibrary& library) {
  return static_cast<HMODULE>(library.handle());
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    ClearRecordedLogs();
    ClearRecordedPlays();
    SetPlayHook({});
  }
};

// --- Exports ---

// The names in the DLL's export directory, read from the loaded image.
std::vector<std::string> ExportDirectoryNames(HMODULE module) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::vector<std::string> names;
  if (entry.VirtualAddress == 0) return names;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + entry.VirtualAddress);
  const auto* nameRvas =
      reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
  }
  return names;
}

TEST_F(HostTest, ExportsExactlyTheFourteenUndecoratedNames) {
  TempDir dir;
  HostLibrary engine(dir.path());
  ASSERT_TRUE(engine.ok()) << engine.error();
  auto names = ExportDirectoryNames(ModuleOf(engine));
  std::sort(names.begin(), names.end());
  auto expected = ExportNames();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_EQ(engine.Symbol("_VeskSynthInitialize"), nullptr);
  EXPECT_EQ(engine.Symbol("VeskSynthInitialize@4"), nullptr);
}

TEST_F(HostTest, DllImportsOnlySystemLibraries) {
  TempDir dir;
  HostLibrary engine(dir.path());
  ASSERT_TRUE(engine.ok()) << engine.error();
  const auto* base = reinterpret_cast<const uint8_t*>(ModuleOf(engine));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(entry.VirtualAddress, 0u);
  const std::set<std::string> system = {
      "kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll"};
  for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           base + entry.VirtualAddress);
       import->Name != 0; ++import) {
    std::string name(reinterpret_cast<const char*>(base + import->Name));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const bool allowed =
        system.count(name) != 0 || name.rfind("api-ms-win-crt-", 0) == 0;
    EXPECT_TRUE(allowed) << name;
  }
}

// --- Start-up ---

// The names GetVoiceList reports, in its order.
std::vector<std::u16string> VoiceNames(const HostLibrary& engine) {
  uint32_t count = 0;
  if (!engine->GetVoiceList(nullptr, &count)) return {};
  std::vector<std::vector<char16_t>> buffers(count, std::vector<char16_t>(128));
  std::vector<char16_t*> names;
  for (auto& buffer : buffers) names.push_back(buffer.data());
  if (!engine->GetVoiceList(names.data(), &count)) return {};
  return std::vector<std::u16string>(names.begin(), names.begin() + count);
}

// A name NTFS allows but no UTF-8 can carry: an unpaired surrogate. The
// entry is a voice or skipped by its extension alone, and a voice keeps the
// name as the file system holds it.
TEST_F(HostTest, StartUpTakesNamesWithUnpairedSurrogates) {
  TempDir dir;
  dir.Write("phrases.txt", std::string("中\xED\xA0\x80: a\n中\xC0\x80: b\n"));
  const std::wstring oddVoice = L"v\xDC01.vl";
  const std::wstring oddOther = L"\xD800odd.txt";
  const std::vector<uint8_t> voice = SmallMarkerVoice();
  for (const std::wstring& name : {oddVoice, oddOther}) {
    const std::wstring full = (dir.path() / name).native();
    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      GTEST_SKIP() << "this file system refuses unpaired surrogates";
    }
    DWORD written = 0;
    WriteFile(file, voice.data(), DWORD(voice.size()), &written, nullptr);
    CloseHandle(file);
  }
  dir.Write("a.vl", voice);
  {
    HostLibrary engine(dir.path());
    ASSERT_TRUE(engine.ok()) << engine.error();
    ASSERT_TRUE(engine->Initialize(&RecordLog)) << Describe(RecordedLogs());
    const auto logs = RecordedLogs();
    ASSERT_EQ(logs.size(), 5u) << Describe(logs);
    EXPECT_EQ(logs[1], (LogLine{1, u"加载词语字典: 105 个词语"}));
    EXPECT_EQ(logs[4],
              (LogLine{1, u"Halden语音插件初始化完成，加载了 2 个语音库"}));
    const std::u16string odd = std::u16string(u"v") + char16_t(0xDC01);
    EXPECT_EQ(VoiceNames(engine), (std::vector<std::u16string>{u"a", odd}));
    EXPECT_TRUE(engine->PrepareVoice(odd.c_str()));
    engine->Uninitialize();
  }
  for (const std::wstring& name : {oddVoice, oddOther}) {
    DeleteFileW((dir.path() / name).c_str());
  }
}

// --- Speech ---

class SpeechTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    dir_.Write("pinyin.txt", std::string("U+4E2D: zh\xC5\x8Dng\n"));
  }
  // Loads the engine with the given voice file as v.vl.
  void Start(const std::vector<uint8_t>& voice) {
    dir_.Write("v.vl", voice);
    engine_ = std::make_unique<HostLibrary>(dir_.path());
    ASSERT_TRUE(engine_->ok()) << engine_->error();
    ASSERT_TRUE((*engine_)->Initialize(&RecordLog)) << Describe(RecordedLogs());
    (*engine_)->SetPlayCallback(&RecordPlay);
  }
  void TearDown() override {
    SetPlayHook({});
    if (engine_ && engine_->ok()) (*engine_)->Uninitialize();
    engine_.reset();
    HostTest::TearDown();
  }
  const HostApi& api() const { return engine_->api(); }

  TempDir dir_;
  std::unique_ptr<HostLibrary> engine_;
};

// --- Structured exceptions in the host's callbacks ---

std::atomic<int> faultingCalls{0};

int32_t __cdecl FaultingPlay(const char16_t*, const int16_t*, int32_t,
                             int32_t) {
  ++faultingCalls;
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}

void __cdecl FaultingLog(int32_t, const char16_t*) {
  ++faultingCalls;
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

// What a callback compiled by another compiler raises for a C++ throw.
constexpr DWORD kForeignCppException = 0xE06D7363;

int32_t __cdecl ForeignThrowingPlay(const char16_t*, const int16_t*, int32_t,
                                    int32_t) {
  ++faultingCalls;
  RaiseException(kForeignCppException, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 0;
}

// g++'s own exceptions, where they can leave a callback at all
// (kHostExceptionsReachTheEngine).
int32_t __cdecl ThrowingPlay(const char16_t*, const int16_t*, int32_t,
                             int32_t) {
  ++faultingCalls;
  throw std::runtime_error("host failure");
}

TEST_F(SpeechTest, AccessViolationInThePlayCallbackIsSwallowed) {
  Start(SmallMarkerVoice());
  faultingCalls = 0;
  api().SetPlayCallback(&FaultingPlay);
  ASSERT_TRUE(api().Speak(nullptr, u"abc", 0));
  // Three units and the completion call: every call faulted and speech went
  // on to the end.
  for (int i = 0; i < 1200 && faultingCalls < 4; ++i) Sleep(100);
  EXPECT_EQ(faultingCalls.load(), 4);
  api().SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(api().Speak(nullptr, u"d", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(UnitsPlayed(RecordedPlays()), std::vector<int32_t>{Letter('d')});
}

TEST_F(SpeechTest, ExceptionsThrownByThePlayCallbackAreSwallowed) {
  Start(SmallMarkerVoice());
  std::vector<PlayCallback> throwers = {&ForeignThrowingPlay};
  if (kHostExceptionsReachTheEngine) throwers.push_back(&ThrowingPlay);
  for (PlayCallback thrower : throwers) {
    faultingCalls = 0;
    api().SetPlayCallback(thrower);
    ASSERT_TRUE(api().Speak(nullptr, u"ab", 0));
    for (int i = 0; i < 1200 && faultingCalls < 3; ++i) Sleep(100);
    EXPECT_EQ(faultingCalls.load(), 3);
  }
  Clear();
  api().SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(api().Speak(nullptr, u"e", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(UnitsPlayed(RecordedPlays()), std::vector<int32_t>{Letter('e')});
}

TEST_F(HostTest, FaultingLogCallbackDoesNotStopStartUp) {
  TempDir dir;
  dir.Write("voice.vl", SmallMarkerVoice());
  HostLibrary engine(dir.path());
  ASSERT_TRUE(engine.ok()) << engine.error();
  faultingCalls = 0;
  EXPECT_TRUE(engine->Initialize(&FaultingLog));
  EXPECT_EQ(faultingCalls.load(), 3);
  engine->Uninitialize();
}

// --- Run-time thunks ---

// Writes at `at` code that jumps to RecordLog, as a run-time thunk does.
void WriteJumpToRecordLog(uint8_t* at) {
  const auto target = reinterpret_cast<uintptr_t>(&RecordLog);
#if defined(__x86_64__)
  at[0] = 0x48;  // movabs rax, target
  at[1] = 0xB8;
  std::memcpy(at + 2, &target, 8);
  at[10] = 0xFF;  // jmp rax
  at[11] = 0xE0;
#else
  at[0] = 0xE9;  // jmp rel32
  const int32_t relative = int32_t(target - (uintptr_t(at) + 5));
  std::memcpy(at + 1, &relative, 4);
#endif
}

// Starts an engine with the thunk at code as its log callback; the thunk
// must be called as the function.
void ExpectThunkCalledAsTheLogCallback(uint8_t* code) {
  FlushInstructionCache(GetCurrentProcess(), code, 32);
  TempDir dir;
  dir.Write("voice.vl", SmallMarkerVoice());
  HostLibrary engine(dir.path());
  ASSERT_TRUE(engine.ok()) << engine.error();
  ASSERT_TRUE(engine->Initialize(reinterpret_cast<LogCallback>(code)));
  EXPECT_EQ(RecordedLogs().size(), 3u) << Describe(RecordedLogs());
  engine->Uninitialize();
}

// Private writable executable memory, where thunk allocators put their code.
class CodePage {
 public:
  CodePage()
      : code_(static_cast<uint8_t*>(VirtualAlloc(
            nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE))) {
  }
  ~CodePage() {
    if (code_ != nullptr) VirtualFree(code_, 0, MEM_RELEASE);
  }
  uint8_t* get() const { return code_; }

 private:
  uint8_t* code_;
};

// A thunk in writable executable memory is a function, not a variable.
TEST_F(HostTest, ThunkInWritableCodeIsCalledAsTheFunction) {
  CodePage page;
  ASSERT_NE(page.get(), nullptr);
  WriteJumpToRecordLog(page.get());
  ExpectThunkCalledAsTheLogCallback(page.get());
}

// A thunk in private writable code whose first bytes, read as an address,
// land in code (as a 32-bit trampoline's B8 imm32 can): still the function.
TEST_F(HostTest, ThunkWhoseFirstBytesLookLikeACodeAddressIsTheFunction) {
  CodePage page;
  ASSERT_NE(page.get(), nullptr);
  // The thunk opens with a short jump over its first pointer-sized bytes,
  // which are chosen to be an address inside this program's code.
  const uint16_t jumpOver = uint16_t(0xEB | ((sizeof(void*) - 2) << 8));
  uintptr_t lookalike = 0;
  for (uintptr_t block =
           reinterpret_cast<uintptr_t>(&RecordLog) & ~uintptr_t(0xFFFF);
       lookalike == 0 && block != 0; block -= 0x10000) {
    MEMORY_BASIC_INFORMATION info{};
    const uintptr_t candidate = block | jumpOver;
    if (VirtualQuery(reinterpret_cast<void*>(candidate), &info, sizeof info) &&
        info.State == MEM_COMMIT &&
        (info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ)) != 0) {
      lookalike = candidate;
    }
  }
  ASSERT_NE(lookalike, 0u) << "no code address of the needed shape";
  std::memcpy(page.get(), &lookalike, sizeof lookalike);
  WriteJumpToRecordLog(page.get() + sizeof(void*));
  ExpectThunkCalledAsTheLogCallback(page.get());
}

// --- The engine as installed ---

// The DLL in a folder of its own beside the real dictionaries and the
// voices, as the package from make dist lays them out; run-tests.sh
// names the folder when the data has been built (make data voice).
TEST_F(HostTest, InstalledEngineReadsChineseWithTheDefaultVoice) {
  wchar_t folder[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableW(L"VESK_TEST_PACKAGE", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    GTEST_SKIP() << "VESK_TEST_PACKAGE names no installed engine";
  }
  HostLibrary engine(std::filesystem::path(folder) / L"VeskSynth.dll",
                     AsInstalled{});
  ASSERT_TRUE(engine.ok()) << engine.error();
  // Every voice of the package loads; the first in name order speaks.
  std::vector<std::u16string> voices;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == L".vl") {
      voices.push_back(entry.path().stem().u16string());
    }
  }
  ASSERT_FALSE(voices.empty());
  const std::u16string first = *std::min_element(voices.begin(), voices.end());
  ASSERT_TRUE(engine->Initialize(&RecordLog)) << Describe(RecordedLogs());
  const auto logs = RecordedLogs();
  ASSERT_EQ(logs.size(), 3 + voices.size()) << Describe(logs);
  // The real dictionaries, not the built-in fallback.
  EXPECT_TRUE(logs[0].text.starts_with(u"加载拼音字典: ")) << Describe(logs);
  EXPECT_TRUE(logs[1].text.starts_with(u"加载词语字典: ")) << Describe(logs);
  for (std::size_t i = 0; i < voices.size(); ++i) {
    EXPECT_TRUE(logs[2 + i].text.starts_with(u"加载语音库 ")) << Describe(logs);
  }
  const std::string count = std::to_string(voices.size());
  EXPECT_EQ(logs.back(),
            (LogLine{1, u"Halden语音插件初始化完成，加载了 " +
                            std::u16string(count.begin(), count.end()) +
                            u" 个语音库"}));

  engine->SetPlayCallback(&RecordPlay);
  const std::u16string text = u"银行行长说：你好，Vesk 2026！";
  const std::filesystem::path out(folder);
  std::ofstream(out / L"spoken.txt", std::ios::binary) << U8(text);
  // As spoken by default, and through Sonic, faster and lower.
  for (const auto& [rate, pitch] : {std::pair{50, 50}, std::pair{80, 30}}) {
    ClearRecordedPlays();
    engine->SetRate(0, rate);
    engine->SetPitch(0, pitch);
    ASSERT_TRUE(engine->Speak(nullptr, text.c_str(), 9));
    ASSERT_TRUE(WaitForCompletion());
    std::vector<int16_t> samples;
    for (const auto& call : RecordedPlays()) {
      EXPECT_EQ(call.voiceName, first);
      EXPECT_EQ(call.userValue, 9);
      samples.insert(samples.end(), call.samples.begin(), call.samples.end());
    }
    int peak = 0;
    for (int16_t sample : samples) peak = std::max(peak, std::abs(int(sample)));
    // About twenty syllables and letters: seconds of audible speech.
    AudioFormat format{};
    ASSERT_TRUE(engine->GetAudioFormat(&format));
    EXPECT_GT(samples.size(), std::size_t(format.sampleRate) * 2);
    EXPECT_GT(peak, 1000);

    // Left for run-tests.sh, which speaks the same text with the Linux
    // build: every build must give the same samples.
    std::ofstream pcm(out / (L"spoken-rate" + std::to_wstring(rate) +
                             L"-pitch" + std::to_wstring(pitch) + L".pcm"),
                      std::ios::binary);
    pcm.write(reinterpret_cast<const char*>(samples.data()),
              std::streamsize(samples.size() * sizeof(int16_t)));
  }
  engine->Uninitialize();
}

// --- Unloading ---
// These run last: an unload that deadlocks on the loader lock leaves the
// process unable to load or unload anything, so it is reported and the
// process ended at once.

DWORD WINAPI FreeOnOtherThread(void* engine) {
  return static_cast<HostLibrary*>(engine)->Unload() ? 1 : 0;
}

// FreeLibrary on a helper thread, bounded; a hang fails the test and ends
// the program.
bool FreeWithoutHanging(HostLibrary& engine) {
  HANDLE thread =
      CreateThread(nullptr, 0, &FreeOnOtherThread, &engine, 0, nullptr);
  if (thread == nullptr) return false;
  if (WaitForSingleObject(thread, 60000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "FreeLibrary did not return within a minute "
                     "(deadlock on the loader lock?); ending the tests";
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  DWORD freed = 0;
  GetExitCodeThread(thread, &freed);
  CloseHandle(thread);
  return freed == 1;
}

// Whether the DLL at path has left the process, waiting up to the hang
// limit for a worker that holds it to end.
bool UnloadedInTime(const std::filesystem::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  while (GetModuleHandleW(path.c_str()) != nullptr) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Sleep(10);
  }
  return true;
}

TEST_F(SpeechTest, UnloadRightAfterSpeakingNeitherHangsNorCrashes) {
  Start(SmallMarkerVoice());
  ASSERT_TRUE(api().Speak(nullptr, u"abc", 0));
  ASSERT_TRUE(WaitForCompletion());
  // The finished worker is still attached; no Uninitialize first.
  const std::filesystem::path path = engine_->libraryPath();
  EXPECT_TRUE(FreeWithoutHanging(*engine_));
  EXPECT_TRUE(UnloadedInTime(path));
  // The process goes on and a fresh instance works.
  Clear();
  TempDir other;
  other.Write("w.vl", SmallMarkerVoice());
  HostLibrary again(other.path());
  ASSERT_TRUE(again.ok()) << again.error();
  ASSERT_TRUE(again->Initialize(&RecordLog));
  again->SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(again->Speak(nullptr, u"c", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(UnitsPlayed(RecordedPlays()), std::vector<int32_t>{Letter('c')});
  again->Uninitialize();
}

TEST_F(SpeechTest, UnloadDuringSpeechNeitherHangsNorCrashes) {
  Start(LongVoice());
  ASSERT_TRUE(api().Speak(nullptr, u"aaaa", 0));
  ASSERT_TRUE(WaitForPlays(1));
  const std::filesystem::path path = engine_->libraryPath();
  EXPECT_TRUE(FreeWithoutHanging(*engine_));
  // The worker holds the library until it has spoken its text; then the
  // library goes.
  EXPECT_TRUE(WaitForCompletion());
  EXPECT_TRUE(UnloadedInTime(path));
  // The host lives on and loads again.
  TempDir other;
  other.Write("w.vl", SmallMarkerVoice());
  HostLibrary again(other.path());
  EXPECT_TRUE(again.ok()) << again.error();
}

TEST_F(SpeechTest, WorkerStoppedFromItsCallbackLetsTheLibraryGoWhenDone) {
  Start(LongVoice());
  const auto stop = api().Stop;
  SetPlayHook([stop](const PlayCall& call) {
    if (!call.IsCompletion()) stop();
  });
  ASSERT_TRUE(api().Speak(nullptr, u"aaaa", 0));
  ASSERT_TRUE(WaitForPlays(1));
  const std::filesystem::path path = engine_->libraryPath();
  // Uninitialize waits for no detached worker; the unload must not either.
  EXPECT_TRUE(api().Uninitialize());
  EXPECT_TRUE(FreeWithoutHanging(*engine_));
  EXPECT_TRUE(UnloadedInTime(path));
  const auto calls = RecordedPlays();
  EXPECT_EQ(calls.size(), 1u);
  for (const auto& call : calls) EXPECT_FALSE(call.IsCompletion());
}

}  // namespace
}  // namespace vesk::test
