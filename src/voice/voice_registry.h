// The loaded voices, ordered by name (UTF-16 code units, unsigned).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "voice/voice.h"

namespace vesk {

class VoiceRegistry {
 public:
  // Stores the voice under its name, replacing a voice of the same name.
  void Add(Voice voice);

  // Exact, case-sensitive lookup; null when absent.
  std::shared_ptr<const Voice> Find(std::u16string_view name) const;

  // The named voice if name is non-empty and present, else the first voice;
  // null only when empty. Shared so that a worker may outlive Clear.
  std::shared_ptr<const Voice> Resolve(std::u16string_view name) const;

  // The first voice in name order, or null.
  std::shared_ptr<const Voice> First() const;

  std::size_t Count() const;
  std::vector<std::u16string> Names() const;

  void Clear();

 private:
  std::map<std::u16string, std::shared_ptr<const Voice>, std::less<>> voices_;
};

}  // namespace vesk
