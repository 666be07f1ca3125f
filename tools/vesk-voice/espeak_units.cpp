// vesk-voice-espeak: records voice units with the espeak-ng library, one
// WAV file per line of a list ("stem text"), in one process so that a few
// thousand syllables take seconds rather than a process start each.
#include <espeak-ng/speak_lib.h>
#include <sndfile.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

int CollectSamples(short* samples, int count, espeak_EVENT* events) {
  if (samples != nullptr && count > 0 && events != nullptr &&
      events->user_data != nullptr) {
    auto* out = static_cast<std::vector<short>*>(events->user_data);
    out->insert(out->end(), samples, samples + count);
  }
  return 0;
}

bool WriteWav(const std::filesystem::path& path,
              const std::vector<short>& samples, int sampleRate) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t written =
      sf_writef_short(file, samples.data(), sf_count_t(samples.size()));
  return sf_close(file) == 0 && written == sf_count_t(samples.size());
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Records one WAV file per list line \"stem text\" with espeak-ng."};
  std::string listPath = "-";
  std::string outDir;
  std::string voiceName = "cmn-latn-pinyin";
  int speed = espeakRATE_NORMAL;
  int pitch = 50;
  int range = 50;
  app.add_option("list", listPath, "List file, - for standard input");
  app.add_option("-o,--output", outDir, "Directory for the WAV files")
      ->required();
  app.add_option("--voice", voiceName, "espeak-ng voice");
  app.add_option("--speed", speed, "Words per minute")
      ->check(CLI::Range(espeakRATE_MINIMUM, espeakRATE_MAXIMUM));
  app.add_option("--pitch", pitch, "Base pitch 0..100")
      ->check(CLI::Range(0, 100));
  app.add_option("--range", range, "Pitch range 0..100")
      ->check(CLI::Range(0, 100));
  CLI11_PARSE(app, argc, argv);

  std::ifstream listFile;
  if (listPath != "-") {
    listFile.open(listPath);
    if (!listFile) {
      std::cerr << "vesk-voice-espeak: cannot read " << listPath << "\n";
      return 1;
    }
  }
  std::istream& list = listPath == "-" ? std::cin : listFile;

  std::error_code error;
  std::filesystem::create_directories(outDir, error);
  if (!std::filesystem::is_directory(outDir)) {
    std::cerr << "vesk-voice-espeak: cannot create " << outDir << "\n";
    return 1;
  }

  const int sampleRate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr,
                                           espeakINITIALIZE_DONT_EXIT);
  if (sampleRate <= 0) {
    std::cerr << "vesk-voice-espeak: espeak-ng did not start\n";
    return 1;
  }
  if (espeak_SetVoiceByName(voiceName.c_str()) != EE_OK) {
    std::cerr << "vesk-voice-espeak: no espeak-ng voice " << voiceName << "\n";
    espeak_Terminate();
    return 1;
  }
  espeak_SetParameter(espeakRATE, speed, 0);
  espeak_SetParameter(espeakPITCH, pitch, 0);
  espeak_SetParameter(espeakRANGE, range, 0);
  espeak_SetSynthCallback(CollectSamples);

  int failures = 0;
  int written = 0;
  std::string line;
  std::vector<short> samples;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto blank = line.find(' ');
    if (line.empty() || line[0] == '#' || blank == std::string::npos) continue;
    const std::string stem = line.substr(0, blank);
    const std::string text = line.substr(blank + 1);
    samples.clear();
    const espeak_ERROR result =
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                     espeakCHARS_UTF8, nullptr, &samples);
    if (result != EE_OK || samples.empty() ||
        !WriteWav(std::filesystem::path(outDir) / (stem + ".wav"), samples,
                  sampleRate)) {
      std::cerr << "vesk-voice-espeak: warning: nothing recorded for " << stem
                << "\n";
      ++failures;
    } else {
      ++written;
    }
  }
  espeak_Terminate();
  // A few odd syllables may fail; the voice builder reports what is missing.
  if (failures > 0) {
    std::cerr << "vesk-voice-espeak: " << written << " units recorded, "
              << failures << " failed\n";
  }
  return written > 0 ? 0 : 1;
}
