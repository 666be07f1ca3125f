#include "api/startup.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "api/callbacks.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"
#include "voice/voice.h"

namespace vesk {

namespace {

constexpr char16_t kVoiceExtension[] = u".vl";

std::u16string Decimal(std::size_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// Whether a dictionary file is there; an error other than absence is
// reported and stops start-up.
enum class Presence { kPresent, kAbsent, kError };

Presence Probe(EngineState& engine, const std::u16string& path) {
  std::error_code error;
  const bool present =
      std::filesystem::exists(platform::NativePath(path), error);
  if (error) {
    LogMessage(engine, kLogError, u"无法访问文件: " + path);
    return Presence::kError;
  }
  return present ? Presence::kPresent : Presence::kAbsent;
}

bool LoadDictionaries(EngineState& engine, const std::u16string& directory) {
  PinyinLexicon& lexicon = PinyinLexicon::instance();

  const std::u16string charPath = platform::JoinPath(directory, u"pinyin.txt");
  switch (Probe(engine, charPath)) {
    case Presence::kError:
      return false;
    case Presence::kPresent:
      if (lexicon.loadCharDictionary(charPath)) {
        LogMessage(
            engine, kLogInfo,
            u"加载拼音字典: " + Decimal(lexicon.charCount()) + u" 个汉字");
      } else {
        LogMessage(engine, kLogWarning, u"拼音字典加载失败，使用内置轻声词库");
      }
      break;
    case Presence::kAbsent:
      LogMessage(engine, kLogWarning, u"未找到pinyin.txt，使用内置轻声词库");
      break;
  }

  const std::u16string phrasePath =
      platform::JoinPath(directory, u"phrases.txt");
  switch (Probe(engine, phrasePath)) {
    case Presence::kError:
      return false;
    case Presence::kPresent:
      if (lexicon.loadPhraseDictionary(phrasePath)) {
        LogMessage(
            engine, kLogInfo,
            u"加载词语字典: " + Decimal(lexicon.phraseCount()) + u" 个词语");
      }
      break;
    case Presence::kAbsent:
      break;
  }
  return true;
}

void OfferVoiceFile(EngineState& engine, const std::filesystem::path& entry) {
  // Names stay as the listing gave them: no conversion can fail on one.
  const std::u16string fileName = platform::PathText(entry.filename());
  if (platform::FileExtension(fileName) != kVoiceExtension) return;
  Voice voice;
  voice.name = platform::HostText(platform::FileStem(fileName));
  const LogSink log = [&engine](int32_t level, const std::u16string& text) {
    LogMessage(engine, level, text);
  };
  if (!voice.Load(platform::PathText(entry), log)) return;
  std::lock_guard lock(engine.controlMutex);
  engine.workerContext.voices.Add(std::move(voice));
}

// Lists the directory once, in the platform's order, and loads every voice
// file; false (reported) when the listing fails.
bool LoadVoices(EngineState& engine, const std::u16string& directory) {
  const auto failed = [&] {
    LogMessage(engine, kLogError, u"无法列出目录: " + directory);
    std::lock_guard lock(engine.controlMutex);
    engine.workerContext.voices.Clear();
    return false;
  };
  std::error_code error;
  std::filesystem::directory_iterator entries(platform::NativePath(directory),
                                              error);
  if (error) return failed();
  for (; entries != std::filesystem::directory_iterator();
       entries.increment(error)) {
    if (error) return failed();
    OfferVoiceFile(engine, entries->path());
  }
  if (error) return failed();
  return true;
}

// The library's own code, for finding its file.
void AddressInsideLibrary() {}

}  // namespace

std::optional<std::u16string> OwnLibraryPath() {
  return platform::ModulePathOf(
      reinterpret_cast<const void*>(&AddressInsideLibrary));
}

bool RunStartup(EngineState& engine, const std::u16string& directory) {
  {
    std::lock_guard lock(engine.controlMutex);
    engine.moduleDirectory = directory;
  }
  if (!LoadDictionaries(engine, directory)) return false;
  if (!LoadVoices(engine, directory)) return false;

  std::size_t count = 0;
  {
    std::lock_guard lock(engine.controlMutex);
    count = engine.workerContext.voices.Count();
    if (count != 0) {
      engine.currentVoiceName = engine.workerContext.voices.First()->name;
      engine.initialized = true;
    }
  }
  if (count == 0) {
    LogMessage(engine, kLogError, u"未找到语音库文件(.vl)");
    return false;
  }
  LogMessage(
      engine, kLogInfo,
      u"Halden语音插件初始化完成，加载了 " + Decimal(count) + u" 个语音库");
  return true;
}

}  // namespace vesk
