// vesk-pinyin: prints, for each line of UTF-8 text, what the engine says
// for it: syllables as tone-digit pinyin (zhong1 guo2), letters, pauses.
//   vesk-pinyin [--dict-dir DIR] [FILE]     read text (stdin without FILE)
//   vesk-pinyin --chinese-only [FILE]       the Chinese characters' syllables
//   vesk-pinyin --sandhi [FILE]             lines "TEXT<TAB>syl1 syl2 ...":
//                                           the engine's sandhi only
//   vesk-pinyin --check [--dict-dir DIR]    check the dictionaries' readings
//   vesk-pinyin --normalize [--spoken] [FILE]
//                                           each line as the hosts hand it to
//                                           the engine; with --spoken, then a
//                                           tab and what the engine says
#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "engine_library.h"
#include "pinyin_tool.h"
#include "platform/platform.h"
#include "text_prep.h"
#include "tool_cli.h"

namespace {

using vesk::platform::Utf8ToUtf16;

std::vector<std::string_view> SplitSpaces(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    std::size_t end = pos;
    while (end < text.size() && text[end] != ' ') ++end;
    if (end > pos) out.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

// The engine directory whose dictionaries are read by default: the first
// one beside the executable that holds any. Empty, with the places looked
// at in error, when there is none.
std::string DefaultDictionaryDirectory(std::string& error) {
  const auto candidates =
      vesk::host::EngineDirectories(vesk::host::HostPlace::kProgram);
  std::error_code ignored;
  error = "no dictionaries found (looked in";
  for (const auto& directory : candidates) {
    if (std::filesystem::exists(directory / "pinyin.txt", ignored) ||
        std::filesystem::exists(directory / "phrases.txt", ignored)) {
      return directory.string();
    }
    error += " " + directory.string();
  }
  error += "); give --dict-dir DIR";
  return {};
}

// Empty when path names a file that can be read; else why not.
std::string Unreadable(const std::string& path) {
  std::error_code failure;
  if (std::filesystem::is_directory(path, failure)) return "it is a directory";
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::strerror(errno);
  return {};
}

int RunCheck(const std::string& pinyinPath, const std::string& phrasesPath) {
  int status = 0;
  for (const auto& [path, phraseFile] :
       {std::pair{pinyinPath, false}, std::pair{phrasesPath, true}}) {
    const std::string why = Unreadable(path);
    const auto check = why.empty() ? vesk::tool::CheckDictionaryFile(
                                         Utf8ToUtf16(path), phraseFile)
                                   : vesk::tool::DictionaryCheck{};
    if (!check.opened) {
      std::cerr << "vesk-pinyin: cannot read " << path << ": "
                << (why.empty() ? "not a dictionary" : why) << "\n";
      status = 1;
      continue;
    }
    std::cout << path << ": " << check.entries << " entries, " << check.readings
              << " readings, " << check.problems.size() << " unspeakable\n";
    for (const auto& p : check.problems) {
      std::cout << "  line " << p.line << ": " << p.reading << "\n";
    }
    if (!check.problems.empty() || check.entries == 0) status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Prints what the Vesk engine says for each line of text: syllables as "
      "tone-digit pinyin (zhong1 guo2; 0 is the neutral tone, - a character "
      "without a reading), numbers as the engine reads them, Latin letters "
      "spelled as capitals (N V D A) and , for the pause of a sentence mark"};
  vesk::tool::AddVersionFlag(app, "vesk-pinyin");
  std::string dictDir;
  std::string pinyinPath;
  std::string phrasesPath;
  std::string input;
  bool sandhiOnly = false;
  bool check = false;
  bool stats = false;
  bool normalize = false;
  bool spoken = false;
  bool chineseOnly = false;
  app.add_option("--dict-dir", dictDir,
                 "Directory holding pinyin.txt and phrases.txt (default: the "
                 "engine directory installed beside the program, or the "
                 "build's)")
      ->type_name("DIR");
  app.add_option("--pinyin", pinyinPath, "Character dictionary file");
  app.add_option("--phrases", phrasesPath, "Word dictionary file");
  app.add_flag("--sandhi", sandhiOnly,
               "Input lines are TEXT<TAB>SYLLABLES; print the syllables after "
               "the engine's tone sandhi for TEXT");
  app.add_flag("--check", check,
               "Check that every reading in the dictionaries is speakable");
  app.add_flag("--chinese-only", chineseOnly,
               "Print only the syllables of the Chinese characters");
  auto* normalizeFlag =
      app.add_flag("--normalize", normalize,
                   "Print each line as the hosts hand it to the engine");
  app.add_flag("--spoken", spoken,
               "With --normalize: then a tab and what the engine says")
      ->needs(normalizeFlag);
  app.add_flag("--stats", stats,
               "Print dictionary counts and load time to stderr");
  app.add_option("file", input, "UTF-8 text file (default: standard input)");
  if (const auto exit = vesk::tool::ParseCommandLine(app, argc, argv)) {
    return *exit;
  }

  const bool filesGiven = !pinyinPath.empty() && !phrasesPath.empty();
  if (dictDir.empty() && !filesGiven && !sandhiOnly) {
    std::string error;
    dictDir = DefaultDictionaryDirectory(error);
    if (dictDir.empty()) {
      std::cerr << "vesk-pinyin: " << error << "\n";
      return vesk::tool::kExitFailure;
    }
  }
  if (pinyinPath.empty()) pinyinPath = dictDir + "/pinyin.txt";
  if (phrasesPath.empty()) phrasesPath = dictDir + "/phrases.txt";
  if (check) return RunCheck(pinyinPath, phrasesPath);

  std::ifstream file;
  if (!input.empty()) {
    if (const std::string why = Unreadable(input); !why.empty()) {
      std::cerr << "vesk-pinyin: cannot read " << input << ": " << why << "\n";
      return vesk::tool::kExitFailure;
    }
    file.open(input, std::ios::binary);
  }
  std::istream& in = input.empty() ? std::cin : file;
  std::ios::sync_with_stdio(false);

  if (sandhiOnly) {
    std::string line;
    std::size_t lineNumber = 0;
    while (std::getline(in, line)) {
      ++lineNumber;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::size_t tab = line.find('\t');
      const std::string_view text = std::string_view(line).substr(0, tab);
      const std::string_view pieces =
          tab == std::string::npos ? std::string_view()
                                   : std::string_view(line).substr(tab + 1);
      const auto out =
          vesk::tool::SandhiForText(Utf8ToUtf16(text), SplitSpaces(pieces));
      if (!out) {
        std::cerr << "vesk-pinyin: line " << lineNumber
                  << ": syllables do not match the text's characters\n";
        return 1;
      }
      std::cout << vesk::tool::FormatSyllables(*out) << '\n';
    }
    return 0;
  }

  for (const std::string* path : {&pinyinPath, &phrasesPath}) {
    std::error_code failure;
    if (std::filesystem::is_directory(*path, failure)) {
      std::cerr << "vesk-pinyin: cannot read " << *path
                << ": it is a directory\n";
      return vesk::tool::kExitFailure;
    }
  }
  vesk::PinyinLexicon lexicon;
  const auto start = std::chrono::steady_clock::now();
  const bool charsLoaded = lexicon.loadCharDictionary(Utf8ToUtf16(pinyinPath));
  const bool wordsLoaded =
      lexicon.loadPhraseDictionary(Utf8ToUtf16(phrasesPath));
  const auto loadTime = std::chrono::steady_clock::now() - start;
  if (!charsLoaded) {
    std::cerr << "vesk-pinyin: no character readings from " << pinyinPath
              << "\n";
  }
  if (!wordsLoaded) {
    std::cerr << "vesk-pinyin: no word readings from " << phrasesPath << "\n";
  }
  if (!charsLoaded && !wordsLoaded) {
    std::cerr << "vesk-pinyin: no dictionary could be read; give --dict-dir "
                 "DIR\n";
    return vesk::tool::kExitFailure;
  }
  if (stats) {
    std::cerr << "characters " << lexicon.charCount() << ", words "
              << lexicon.phraseCount() << " (longest "
              << lexicon.maxPhraseLength() << "), loaded in "
              << std::chrono::duration<double, std::milli>(loadTime).count()
              << " ms\n";
  }
  std::string line;
  if (normalize) {
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::u16string prepared =
          vesk::textprep::PrepareText(Utf8ToUtf16(line));
      std::cout << vesk::platform::Utf16ToUtf8(prepared);
      if (spoken) {
        std::cout << '\t' << vesk::tool::SpokenLine(lexicon, prepared);
      }
      std::cout << '\n';
    }
    return 0;
  }
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::u16string text = Utf8ToUtf16(line);
    std::cout << (chineseOnly ? vesk::tool::FormatSyllables(
                                    vesk::tool::ReadLine(lexicon, text))
                              : vesk::tool::SpokenLine(lexicon, text))
              << '\n';
  }
  return 0;
}
