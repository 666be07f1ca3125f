// The DLL as a Windows host sees it: loaded with LoadLibraryW from a
// directory holding its data, driven only through GetProcAddress.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "support/test_files.h"
#include "vesksynth.h"
#include "vesksynth_exports.h"

namespace vesk::test {
namespace {

const std::vector<std::string>& FourteenExports() {
#define VESK_NAME_ENTRY(verb) VESK_EXPORT_NAME(verb),
  static const std::vector<std::string> names = {
      VESK_FOR_EACH_EXPORT(VESK_NAME_ENTRY)};
#undef VESK_NAME_ENTRY
  return names;
}

std::wstring BuiltDll() {
  wchar_t value[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableW(L"VESK_TEST_DLL", value, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return value;
  return VESK_TEST_DLL_PATH;
}

std::filesystem::path TempRoot() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return std::filesystem::path(std::wstring(buffer, length));
}

// A directory with a Chinese name, so the engine must find itself and its
// files through UTF-16 paths.
class EngineDir {
 public:
  EngineDir() {
    static std::atomic<int> counter{0};
    path_ =
        TempRoot() / (L"语音引擎-" + std::to_wstring(GetCurrentProcessId()) +
                      L"-" + std::to_wstring(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~EngineDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  void Write(const std::wstring& name,
             const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write a test file");
  }
  void WriteText(const std::wstring& name, const std::string& utf8) const {
    Write(name, std::vector<uint8_t>(utf8.begin(), utf8.end()));
  }

 private:
  std::filesystem::path path_;
};

using InitializeFn = VeskBool(__cdecl*)(LogCallback);
using VoidFn = VeskBool(__cdecl*)();
using GetInfoFn = VeskBool(__cdecl*)(EngineInfo*);
using GetVoiceListFn = VeskBool(__cdecl*)(char16_t**, uint32_t*);
using PrepareVoiceFn = VeskBool(__cdecl*)(const char16_t*);
using GetAudioFormatFn = VeskBool(__cdecl*)(AudioFormat*);
using SetValueFn = VeskBool(__cdecl*)(intptr_t, int32_t);
using SetPlayCallbackFn = PlayCallback(__cdecl*)(PlayCallback);
using SpeakFn = VeskBool(__cdecl*)(const char16_t*, const char16_t*, int32_t);

// One engine instance: the DLL copied into its directory and loaded from
// there (a distinct file is a distinct instance), or loaded where it lies.
class Engine {
 public:
  explicit Engine(const EngineDir& dir) {
    const auto target = dir.path() / L"VeskSynth.dll";
    if (!CopyFileW(BuiltDll().c_str(), target.c_str(), FALSE)) {
      error_ = "cannot copy the DLL";
      return;
    }
    Load(target);
  }
  explicit Engine(const std::filesystem::path& dll) { Load(dll); }
  ~Engine() {
    if (module_ != nullptr) {
      if (Uninitialize != nullptr) Uninitialize();
      FreeLibrary(module_);
    }
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  bool ok() const { return module_ != nullptr && error_.empty(); }
  const std::string& error() const { return error_; }
  HMODULE module() const { return module_; }
  const std::wstring& path() const { return path_; }
  // Unloads without Uninitialize, as a host that exits abruptly does.
  bool FreeNow() {
    const bool freed = FreeLibrary(module_) != FALSE;
    module_ = nullptr;
    return freed;
  }

  InitializeFn Initialize = nullptr;
  VoidFn Uninitialize = nullptr;
  GetInfoFn GetInfo = nullptr;
  GetVoiceListFn GetVoiceList = nullptr;
  PrepareVoiceFn PrepareVoice = nullptr;
  GetAudioFormatFn GetAudioFormat = nullptr;
  SetValueFn SetRate = nullptr;
  SetValueFn SetPitch = nullptr;
  SetValueFn SetVolume = nullptr;
  SetPlayCallbackFn SetPlayCallback = nullptr;
  SpeakFn Speak = nullptr;
  VoidFn Stop = nullptr;
  VoidFn Pause = nullptr;
  VoidFn Resume = nullptr;

 private:
  void Load(const std::filesystem::path& dll) {
    path_ = dll.wstring();
    module_ = LoadLibraryW(dll.c_str());
    if (module_ == nullptr) {
      error_ = "LoadLibraryW failed: " + std::to_string(GetLastError());
      return;
    }
#define VESK_RESOLVE(verb) Resolve(verb, VESK_EXPORT_NAME(verb));
    VESK_FOR_EACH_EXPORT(VESK_RESOLVE)
#undef VESK_RESOLVE
  }

  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(module_, name)));
    if (fn == nullptr) error_ += std::string("missing export ") + name + "; ";
  }

  HMODULE module_ = nullptr;
  std::wstring path_;
  std::string error_;
};

// --- What the engine sends back ---

struct LogLine {
  int32_t level;
  std::u16string text;
  friend bool operator==(const LogLine&, const LogLine&) = default;
};

struct PlayCall {
  std::u16string voiceName;
  bool nullSamples = false;
  std::vector<int16_t> samples;
  int32_t byteCount = 0;
  int32_t userValue = 0;
  DWORD thread = 0;
  bool IsCompletion() const { return nullSamples && byteCount == 0; }
};

std::mutex recordMutex;
std::condition_variable recordChanged;
std::vector<LogLine> logLines;
std::vector<PlayCall> playCalls;
std::atomic<int> playHookCalls{0};
void (*playHook)(const PlayCall&) = nullptr;

void ClearRecords() {
  std::lock_guard lock(recordMutex);
  logLines.clear();
  playCalls.clear();
  playHook = nullptr;
  playHookCalls = 0;
}

std::vector<LogLine> Logs() {
  std::lock_guard lock(recordMutex);
  return logLines;
}

std::vector<PlayCall> Plays() {
  std::lock_guard lock(recordMutex);
  return playCalls;
}

void __cdecl RecordLog(int32_t level, const char16_t* text) {
  std::lock_guard lock(recordMutex);
  logLines.push_back({level, text == nullptr ? u"" : text});
}

int32_t __cdecl RecordPlay(const char16_t* voiceName, const int16_t* samples,
                           int32_t byteCount, int32_t userValue) {
  PlayCall call;
  call.voiceName = voiceName == nullptr ? u"" : voiceName;
  call.nullSamples = samples == nullptr;
  call.byteCount = byteCount;
  call.userValue = userValue;
  call.thread = GetCurrentThreadId();
  if (samples != nullptr && byteCount > 0) {
    call.samples.assign(samples, samples + byteCount / 2);
  }
  void (*hook)(const PlayCall&);
  {
    std::lock_guard lock(recordMutex);
    playCalls.push_back(call);
    hook = playHook;
  }
  recordChanged.notify_all();
  if (hook != nullptr) {
    ++playHookCalls;
    hook(call);
  }
  return 0;
}

// The limit only guards against a hang; under emulation speech is slow.
constexpr auto kHangLimit = std::chrono::seconds(120);

bool WaitForCompletion() {
  std::unique_lock lock(recordMutex);
  return recordChanged.wait_for(lock, kHangLimit, [] {
    return !playCalls.empty() && playCalls.back().IsCompletion();
  });
}

bool WaitForPlays(std::size_t count) {
  std::unique_lock lock(recordMutex);
  return recordChanged.wait_for(lock, kHangLimit,
                                [&] { return playCalls.size() >= count; });
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

std::string Describe(const std::vector<LogLine>& lines) {
  std::string out;
  for (const auto& line : lines) {
    out += std::to_string(line.level) + ": " + U8(line.text) + "\n";
  }
  return out;
}

int32_t Letter(char letter) { return LetterUnit(letter); }

// A voice with the letter units a..e, the punctuation unit and the unit of
// the syllable zhong1, each a marker run of 100 samples.
std::vector<uint8_t> SmallMarkerVoice(int32_t sampleRate = 16000) {
  std::vector<int32_t> units = {kPunctuationUnit,
                                SyllableUnitIndex("zhong", 1)};
  for (char c = 'a'; c <= 'e'; ++c) units.push_back(Letter(c));
  return BuildMarkerVoice(sampleRate, units, 100);
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearRecords(); }
  void TearDown() override { ClearRecords(); }
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
  EngineDir dir;
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  auto names = ExportDirectoryNames(engine.module());
  std::sort(names.begin(), names.end());
  auto expected = FourteenExports();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_EQ(GetProcAddress(engine.module(), "_VeskSynthInitialize"), nullptr);
  EXPECT_EQ(GetProcAddress(engine.module(), "VeskSynthInitialize@4"), nullptr);
}

TEST_F(HostTest, DllImportsOnlySystemLibraries) {
  EngineDir dir;
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  const auto* base = reinterpret_cast<const uint8_t*>(engine.module());
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
std::vector<std::u16string> VoiceNames(const Engine& engine) {
  uint32_t count = 0;
  if (!engine.GetVoiceList(nullptr, &count)) return {};
  std::vector<std::vector<char16_t>> buffers(count, std::vector<char16_t>(128));
  std::vector<char16_t*> names;
  for (auto& buffer : buffers) names.push_back(buffer.data());
  if (!engine.GetVoiceList(names.data(), &count)) return {};
  return std::vector<std::u16string>(names.begin(), names.begin() + count);
}

TEST_F(HostTest, StartUpWithoutDictionariesLogsTheFallback) {
  EngineDir dir;
  dir.Write(L"voice.vl", SmallMarkerVoice());
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  ASSERT_TRUE(engine.Initialize(&RecordLog));
  const std::vector<LogLine> expected = {
      {2, u"未找到pinyin.txt，使用内置轻声词库"},
      {1, u"加载语音库 voice: 7 条目"},
      {1, u"Halden语音插件初始化完成，加载了 1 个语音库"}};
  EXPECT_EQ(Logs(), expected) << Describe(Logs());
}

TEST_F(HostTest, StartUpLoadsDictionariesBesideTheDll) {
  EngineDir dir;
  dir.WriteText(
      L"pinyin.txt",
      "\xEF\xBB\xBF# readings\r\nU+4E2D: zh\xC5\x8Dng,zh\xC3\xB2ng\r\n"
      "\xE5\x9B\xBD: gu\xC3\xB3\r\n");
  dir.WriteText(L"phrases.txt",
                "\xE4\xB8\xAD\xE5\x9B\xBD: zh\xC5\x8Dng gu\xC3\xB3\n");
  dir.Write(L"b.vl", SmallMarkerVoice(22050));
  dir.Write(L"a.vl", SmallMarkerVoice(11025));
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  ASSERT_TRUE(engine.Initialize(&RecordLog));
  const auto logs = Logs();
  ASSERT_EQ(logs.size(), 5u) << Describe(logs);
  EXPECT_EQ(logs[0], (LogLine{1, u"加载拼音字典: 2 个汉字"}));
  EXPECT_EQ(logs[1], (LogLine{1, u"加载词语字典: 105 个词语"}));
  EXPECT_EQ(logs[4],
            (LogLine{1, u"Halden语音插件初始化完成，加载了 2 个语音库"}));

  EXPECT_EQ(VoiceNames(engine), (std::vector<std::u16string>{u"a", u"b"}));

  AudioFormat format{};
  ASSERT_TRUE(engine.GetAudioFormat(&format));
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.sampleRate, 11025);
  EXPECT_EQ(format.bitsPerSample, 16);
  ASSERT_TRUE(engine.PrepareVoice(u"b"));
  ASSERT_TRUE(engine.GetAudioFormat(&format));
  EXPECT_EQ(format.sampleRate, 22050);
  EXPECT_FALSE(engine.PrepareVoice(u"B"));

  EngineInfo info{};
  ASSERT_TRUE(engine.GetInfo(&info));
  EXPECT_EQ(std::u16string(info.name), u"Halden语音");
  EXPECT_EQ(std::u16string(info.version), u"1.1.0");

  ASSERT_TRUE(engine.Uninitialize());
  EXPECT_EQ(Logs().back(), (LogLine{1, u"Halden语音插件已卸载"}));
}

TEST_F(HostTest, StartUpWithoutVoiceFails) {
  EngineDir dir;
  dir.Write(L"x.VL", SmallMarkerVoice());
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  EXPECT_FALSE(engine.Initialize(&RecordLog));
  ASSERT_FALSE(Logs().empty());
  EXPECT_EQ(Logs().back(), (LogLine{4, u"未找到语音库文件(.vl)"}));
  EXPECT_FALSE(engine.Speak(nullptr, u"abc", 0));
}

// A name NTFS allows but no UTF-8 can carry: an unpaired surrogate. The
// entry is a voice or skipped by its extension alone, and a voice keeps the
// name as the file system holds it.
TEST_F(HostTest, StartUpTakesNamesWithUnpairedSurrogates) {
  EngineDir dir;
  dir.WriteText(L"phrases.txt", "中\xED\xA0\x80: a\n中\xC0\x80: b\n");
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
  dir.Write(L"a.vl", voice);
  {
    Engine engine(dir);
    ASSERT_TRUE(engine.ok()) << engine.error();
    ASSERT_TRUE(engine.Initialize(&RecordLog)) << Describe(Logs());
    const auto logs = Logs();
    ASSERT_EQ(logs.size(), 5u) << Describe(logs);
    EXPECT_EQ(logs[1], (LogLine{1, u"加载词语字典: 105 个词语"}));
    EXPECT_EQ(logs[4],
              (LogLine{1, u"Halden语音插件初始化完成，加载了 2 个语音库"}));
    const std::u16string odd = std::u16string(u"v") + char16_t(0xDC01);
    EXPECT_EQ(VoiceNames(engine), (std::vector<std::u16string>{u"a", odd}));
    EXPECT_TRUE(engine.PrepareVoice(odd.c_str()));
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
    dir_.WriteText(L"pinyin.txt", "U+4E2D: zh\xC5\x8Dng\n");
  }
  // Loads the engine with the given voice file as v.vl.
  void Start(const std::vector<uint8_t>& voice) {
    dir_.Write(L"v.vl", voice);
    engine_ = std::make_unique<Engine>(dir_);
    ASSERT_TRUE(engine_->ok()) << engine_->error();
    ASSERT_TRUE(engine_->Initialize(&RecordLog)) << Describe(Logs());
    engine_->SetPlayCallback(&RecordPlay);
  }
  void TearDown() override {
    engine_.reset();
    HostTest::TearDown();
  }

  EngineDir dir_;
  std::unique_ptr<Engine> engine_;
};

TEST_F(SpeechTest, SpeaksLettersMarksAndCharactersThroughThePlayCallback) {
  Start(SmallMarkerVoice());
  ASSERT_TRUE(engine_->Speak(nullptr, u"Ab,中", 77));
  ASSERT_TRUE(WaitForCompletion());
  const auto calls = Plays();
  const std::vector<int32_t> expected = {Letter('a'), Letter('b'),
                                         kPunctuationUnit,
                                         SyllableUnitIndex("zhong", 1)};
  EXPECT_EQ(UnitsPlayed(calls), expected);
  for (const auto& call : calls) {
    EXPECT_EQ(call.voiceName, u"v");
    EXPECT_EQ(call.userValue, 77);
    EXPECT_NE(call.thread, GetCurrentThreadId());
    EXPECT_EQ(call.byteCount % 2, 0);
  }
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const PlayCall& c) { return c.IsCompletion(); }),
            1);
}

// x87 arithmetic would give 399 here: single precision must be single.
TEST_F(SpeechTest, VolumeGainMatchesSinglePrecision) {
  std::map<int32_t, std::vector<int16_t>> units;
  units[Letter('a')] = {20000, -20000, 1001, -1001};
  Start(BuildVoiceFile(16000, units));
  ASSERT_TRUE(engine_->SetVolume(0, 1));
  ASSERT_TRUE(engine_->Speak(nullptr, u"a", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(Plays().front().samples,
            (std::vector<int16_t>{400, -400, 20, -20}));

  ClearRecords();
  ASSERT_TRUE(engine_->SetVolume(0, 100));
  ASSERT_TRUE(engine_->Speak(nullptr, u"a", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(Plays().front().samples,
            (std::vector<int16_t>{32767, -32768, 2002, -2002}));

  ClearRecords();
  ASSERT_TRUE(engine_->SetVolume(0, 25));
  ASSERT_TRUE(engine_->Speak(nullptr, u"a", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(Plays().front().samples,
            (std::vector<int16_t>{10000, -10000, 500, -500}));
}

TEST_F(SpeechTest, RateAndPitchGoThroughTheSonicStream) {
  Start(BuildMarkerVoice(16000, {Letter('a')}, 16000));
  ASSERT_TRUE(engine_->SetRate(0, 100));
  ASSERT_TRUE(engine_->Speak(nullptr, u"a", 0));
  ASSERT_TRUE(WaitForCompletion());
  std::size_t samples = 0;
  for (const auto& call : Plays()) samples += call.samples.size();
  // Twice the speed: about half the samples.
  EXPECT_GT(samples, 6000u);
  EXPECT_LT(samples, 10000u);
}

// A unit of three seconds arrives in three one-second chunks.
std::vector<uint8_t> LongVoice() {
  return BuildMarkerVoice(8000, {Letter('a')}, 3 * 8000);
}

HANDLE firstChunk = nullptr;
HANDLE hostPaused = nullptr;

void PauseOnFirstChunk(const PlayCall&) {
  if (playHookCalls == 1) {
    SetEvent(firstChunk);
    WaitForSingleObject(hostPaused, INFINITE);
  }
}

TEST_F(SpeechTest, PauseHoldsTheNextChunkUntilResume) {
  Start(LongVoice());
  firstChunk = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  hostPaused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    std::lock_guard lock(recordMutex);
    playHook = &PauseOnFirstChunk;
  }
  EXPECT_FALSE(engine_->Pause());
  ASSERT_TRUE(engine_->Speak(nullptr, u"a", 0));
  ASSERT_EQ(WaitForSingleObject(firstChunk, 120000), WAIT_OBJECT_0);
  EXPECT_TRUE(engine_->Pause());
  SetEvent(hostPaused);
  // Held: nothing more may arrive while paused.
  Sleep(300);
  EXPECT_EQ(Plays().size(), 1u);
  EXPECT_TRUE(engine_->Resume());
  ASSERT_TRUE(WaitForCompletion());
  const auto calls = Plays();
  ASSERT_EQ(calls.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(calls[i].byteCount, 16000);
  CloseHandle(firstChunk);
  CloseHandle(hostPaused);
}

TEST_F(SpeechTest, StopEndsSpeechWithoutCompletion) {
  Start(LongVoice());
  firstChunk = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  hostPaused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    std::lock_guard lock(recordMutex);
    playHook = &PauseOnFirstChunk;
  }
  ASSERT_TRUE(engine_->Speak(nullptr, u"aaa", 0));
  ASSERT_EQ(WaitForSingleObject(firstChunk, 120000), WAIT_OBJECT_0);
  EXPECT_TRUE(engine_->Pause());
  SetEvent(hostPaused);
  EXPECT_TRUE(engine_->Stop());
  const auto afterStop = Plays().size();
  EXPECT_EQ(afterStop, 1u);
  Sleep(300);
  const auto calls = Plays();
  EXPECT_EQ(calls.size(), afterStop);
  for (const auto& call : calls) EXPECT_FALSE(call.IsCompletion());
  EXPECT_FALSE(engine_->Resume());
  CloseHandle(firstChunk);
  CloseHandle(hostPaused);
}

// --- Faults in the host's callbacks ---

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

#if defined(__x86_64__)
// g++'s own exceptions on x86_64 are structured exceptions and can leave a
// callback; on 32-bit x86 its DWARF unwinder cannot cross into another
// module, so there only the foreign kind is thrown.
int32_t __cdecl ThrowingPlay(const char16_t*, const int16_t*, int32_t,
                             int32_t) {
  ++faultingCalls;
  throw std::runtime_error("host failure");
}
#endif

TEST_F(SpeechTest, AccessViolationInThePlayCallbackIsSwallowed) {
  Start(SmallMarkerVoice());
  faultingCalls = 0;
  engine_->SetPlayCallback(&FaultingPlay);
  ASSERT_TRUE(engine_->Speak(nullptr, u"abc", 0));
  // Three units and the completion call: every call faulted and speech went
  // on to the end.
  for (int i = 0; i < 1200 && faultingCalls < 4; ++i) Sleep(100);
  EXPECT_EQ(faultingCalls.load(), 4);
  engine_->SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(engine_->Speak(nullptr, u"d", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(UnitsPlayed(Plays()), std::vector<int32_t>{Letter('d')});
}

TEST_F(SpeechTest, ExceptionsThrownByThePlayCallbackAreSwallowed) {
  Start(SmallMarkerVoice());
  std::vector<PlayCallback> throwers = {&ForeignThrowingPlay};
#if defined(__x86_64__)
  throwers.push_back(&ThrowingPlay);
#endif
  for (PlayCallback thrower : throwers) {
    faultingCalls = 0;
    engine_->SetPlayCallback(thrower);
    ASSERT_TRUE(engine_->Speak(nullptr, u"ab", 0));
    for (int i = 0; i < 1200 && faultingCalls < 3; ++i) Sleep(100);
    EXPECT_EQ(faultingCalls.load(), 3);
  }
  ClearRecords();
  engine_->SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(engine_->Speak(nullptr, u"e", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(UnitsPlayed(Plays()), std::vector<int32_t>{Letter('e')});
}

TEST_F(HostTest, FaultingLogCallbackDoesNotStopStartUp) {
  EngineDir dir;
  dir.Write(L"voice.vl", SmallMarkerVoice());
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  faultingCalls = 0;
  EXPECT_TRUE(engine.Initialize(&FaultingLog));
  EXPECT_EQ(faultingCalls.load(), 3);
}

// --- Callback pointers ---

TEST_F(HostTest, CallbackHeldInAWritableVariableIsDereferenced) {
  EngineDir dir;
  dir.Write(L"voice.vl", SmallMarkerVoice());
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  // Heap memory: committed, PAGE_READWRITE.
  auto* holder = new LogCallback(&RecordLog);
  ASSERT_TRUE(engine.Initialize(reinterpret_cast<LogCallback>(holder)));
  EXPECT_EQ(Logs().size(), 3u) << Describe(Logs());
  engine.Uninitialize();
  delete holder;
}

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
  EngineDir dir;
  dir.Write(L"voice.vl", SmallMarkerVoice());
  Engine engine(dir);
  ASSERT_TRUE(engine.ok()) << engine.error();
  ASSERT_TRUE(engine.Initialize(reinterpret_cast<LogCallback>(code)));
  EXPECT_EQ(Logs().size(), 3u) << Describe(Logs());
  engine.Uninitialize();
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
// default voice, as the package from make dist lays them out; run-tests.sh
// names the folder when the data has been built (make data voice).
TEST_F(HostTest, InstalledEngineReadsChineseWithTheDefaultVoice) {
  wchar_t folder[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableW(L"VESK_TEST_PACKAGE", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    GTEST_SKIP() << "VESK_TEST_PACKAGE names no installed engine";
  }
  Engine engine(std::filesystem::path(folder) / L"VeskSynth.dll");
  ASSERT_TRUE(engine.ok()) << engine.error();
  ASSERT_TRUE(engine.Initialize(&RecordLog)) << Describe(Logs());
  const auto logs = Logs();
  ASSERT_EQ(logs.size(), 4u) << Describe(logs);
  // The real dictionaries, not the built-in fallback.
  EXPECT_TRUE(logs[0].text.starts_with(u"加载拼音字典: ")) << Describe(logs);
  EXPECT_TRUE(logs[1].text.starts_with(u"加载词语字典: ")) << Describe(logs);
  EXPECT_TRUE(logs[2].text.starts_with(u"加载语音库 电子男声: "))
      << Describe(logs);
  EXPECT_EQ(logs[3],
            (LogLine{1, u"Halden语音插件初始化完成，加载了 1 个语音库"}));

  engine.SetPlayCallback(&RecordPlay);
  const std::u16string text = u"银行行长说：你好，Vesk 2026！";
  const std::filesystem::path out(folder);
  std::ofstream(out / L"spoken.txt", std::ios::binary) << U8(text);
  // As spoken by default, and through Sonic, faster and lower.
  for (const auto& [rate, pitch] : {std::pair{50, 50}, std::pair{80, 30}}) {
    ClearRecords();
    engine.SetRate(0, rate);
    engine.SetPitch(0, pitch);
    ASSERT_TRUE(engine.Speak(nullptr, text.c_str(), 9));
    ASSERT_TRUE(WaitForCompletion());
    std::vector<int16_t> samples;
    for (const auto& call : Plays()) {
      EXPECT_EQ(call.voiceName, u"电子男声");
      EXPECT_EQ(call.userValue, 9);
      samples.insert(samples.end(), call.samples.begin(), call.samples.end());
    }
    int peak = 0;
    for (int16_t sample : samples) peak = std::max(peak, std::abs(int(sample)));
    // About twenty syllables and letters: seconds of audible speech.
    AudioFormat format{};
    ASSERT_TRUE(engine.GetAudioFormat(&format));
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
}

// --- Unloading ---
// These run last: an unload that deadlocks on the loader lock leaves the
// process unable to load or unload anything, so it is reported and the
// process ended at once.

DWORD WINAPI FreeOnOtherThread(void* engine) {
  return static_cast<Engine*>(engine)->FreeNow() ? 1 : 0;
}

// FreeLibrary on a helper thread, bounded; a hang fails the test and ends
// the program.
bool FreeWithoutHanging(Engine& engine) {
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
bool UnloadedInTime(const std::wstring& path) {
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  while (GetModuleHandleW(path.c_str()) != nullptr) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Sleep(10);
  }
  return true;
}

TEST_F(SpeechTest, UnloadRightAfterSpeakingNeitherHangsNorCrashes) {
  Start(SmallMarkerVoice());
  ASSERT_TRUE(engine_->Speak(nullptr, u"abc", 0));
  ASSERT_TRUE(WaitForCompletion());
  // The finished worker is still attached; no Uninitialize first.
  const std::wstring path = engine_->path();
  EXPECT_TRUE(FreeWithoutHanging(*engine_));
  EXPECT_TRUE(UnloadedInTime(path));
  // The process goes on and a fresh instance works.
  ClearRecords();
  EngineDir other;
  other.Write(L"w.vl", SmallMarkerVoice());
  Engine again(other);
  ASSERT_TRUE(again.ok()) << again.error();
  ASSERT_TRUE(again.Initialize(&RecordLog));
  again.SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(again.Speak(nullptr, u"c", 0));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(UnitsPlayed(Plays()), std::vector<int32_t>{Letter('c')});
}

TEST_F(SpeechTest, UnloadDuringSpeechNeitherHangsNorCrashes) {
  Start(LongVoice());
  ASSERT_TRUE(engine_->Speak(nullptr, u"aaaa", 0));
  ASSERT_TRUE(WaitForPlays(1));
  const std::wstring path = engine_->path();
  EXPECT_TRUE(FreeWithoutHanging(*engine_));
  // The worker holds the library until it has spoken its text; then the
  // library goes.
  EXPECT_TRUE(WaitForCompletion());
  EXPECT_TRUE(UnloadedInTime(path));
  // The host lives on and loads again.
  EngineDir other;
  other.Write(L"w.vl", SmallMarkerVoice());
  Engine again(other);
  EXPECT_TRUE(again.ok()) << again.error();
}

VoidFn stopFromHook = nullptr;

void StopInsideCallback(const PlayCall& call) {
  if (!call.IsCompletion()) stopFromHook();
}

TEST_F(SpeechTest, WorkerStoppedFromItsCallbackLetsTheLibraryGoWhenDone) {
  Start(LongVoice());
  stopFromHook = engine_->Stop;
  {
    std::lock_guard lock(recordMutex);
    playHook = &StopInsideCallback;
  }
  ASSERT_TRUE(engine_->Speak(nullptr, u"aaaa", 0));
  ASSERT_TRUE(WaitForPlays(1));
  const std::wstring path = engine_->path();
  // Uninitialize waits for no detached worker; the unload must not either.
  EXPECT_TRUE(engine_->Uninitialize());
  EXPECT_TRUE(FreeWithoutHanging(*engine_));
  EXPECT_TRUE(UnloadedInTime(path));
  const auto calls = Plays();
  EXPECT_EQ(calls.size(), 1u);
  for (const auto& call : calls) EXPECT_FALSE(call.IsCompletion());
}

}  // namespace
}  // namespace vesk::test
