#include "voice/voice_registry.h"

#include <utility>

namespace vesk {

void VoiceRegistry::Add(Voice voice) {
  std::u16string key = voice.name;
  voice.IndexUnits();
  // A worker still holding the replaced voice keeps it alive.
  voices_.insert_or_assign(std::move(key),
                           std::make_shared<const Voice>(std::move(voice)));
}

std::shared_ptr<const Voice> VoiceRegistry::Find(
    std::u16string_view name) const {
  const auto found = voices_.find(name);
  return found != voices_.end() ? found->second : nullptr;
}

std::shared_ptr<const Voice> VoiceRegistry::Resolve(
    std::u16string_view name) const {
  if (!name.empty()) {
    if (auto voice = Find(name)) return voice;
  }
  return First();
}

std::shared_ptr<const Voice> VoiceRegistry::First() const {
  return voices_.empty() ? nullptr : voices_.begin()->second;
}

std::size_t VoiceRegistry::Count() const { return voices_.size(); }

std::vector<std::u16string> VoiceRegistry::Names() const {
  std::vector<std::u16string> names;
  names.reserve(voices_.size());
  for (const auto& entry : voices_) names.push_back(entry.first);
  return names;
}

void VoiceRegistry::Clear() { voices_.clear(); }

}  // namespace vesk
