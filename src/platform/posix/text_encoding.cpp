// UTF-8 <-> UTF-16 exactly as the Windows converter does it (code page
// 65001, no flags), so a dictionary reads the same on every system: one
// U+FFFD per maximal invalid subpart, except that a lead byte whose second
// byte is a continuation byte outside the lead's range (E0 80, ED A0, F0 80,
// F4 90) is replaced together with that byte, and a sequence the input ends
// inside is one U+FFFD with whatever follows its lead. Surrogates never pass
// through.
#include "platform/platform.h"

namespace vesk::platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The accepted range of the second byte after a lead byte; the later bytes
// are always 80..BF.
struct LeadInfo {
  int length = 0;  // 0: not a lead byte
  uint8_t secondLow = 0x80;
  uint8_t secondHigh = 0xBF;
};

LeadInfo Lead(uint8_t byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
  if (byte == 0xE0) return {3, 0xA0, 0xBF};
  if (byte == 0xED) return {3, 0x80, 0x9F};  // no UTF-8-encoded surrogates
  if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
  if (byte == 0xF0) return {4, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
  if (byte == 0xF4) return {4, 0x80, 0x8F};
  return {};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Length of the well-formed sequence at bytes[i], 0 when there is none.
std::size_t ValidSequenceAt(const uint8_t* bytes, std::size_t size,
                            std::size_t i) {
  if (bytes[i] < 0x80) return 1;
  const LeadInfo lead = Lead(bytes[i]);
  if (lead.length == 0 || i + lead.length > size) return 0;
  if (bytes[i + 1] < lead.secondLow || bytes[i + 1] > lead.secondHigh) return 0;
  for (int k = 2; k < lead.length; ++k) {
    if (!IsContinuation(bytes[i + k])) return 0;
  }
  return std::size_t(lead.length);
}

// A name's stand-in for a byte that is not part of valid UTF-8.
constexpr char16_t kEscapedByte = 0xDC00;

}  // namespace

namespace {

// Decodes utf8 into out, which has room for utf8.size() units: no sequence
// gives more units than it has bytes. Returns the number of units written.
std::size_t DecodeUtf8(std::string_view utf8, char16_t* out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  const std::size_t size = utf8.size();
  char16_t* const start = out;
  std::size_t i = 0;
  while (i < size) {
    const uint8_t first = bytes[i];
    if (first < 0x80) {
      *out++ = char16_t(first);
      ++i;
      continue;
    }
    // Chinese text is almost all three-byte sequences with the full range
    // of second bytes (E1..EC, EE, EF): taken without the general walk.
    if (first >= 0xE1 && first <= 0xEF && first != 0xED && i + 3 <= size &&
        IsContinuation(bytes[i + 1]) && IsContinuation(bytes[i + 2])) {
      *out++ = char16_t(((first & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) |
                        (bytes[i + 2] & 0x3F));
      i += 3;
      continue;
    }
    const LeadInfo lead = Lead(first);
    if (lead.length == 0) {
      *out++ = kReplacement;
      ++i;
      continue;
    }
    if (i + lead.length > size) {
      *out++ = kReplacement;  // the input ends inside: the rest is one, as
      break;                  // the Windows converter has it
    }
    char32_t code = first & (0xFF >> (lead.length + 1));
    std::size_t used = 1;
    bool complete = true;
    for (int k = 1; k < lead.length; ++k) {
      const uint8_t next = bytes[i + used];
      const bool fits = k == 1
                            ? next >= lead.secondLow && next <= lead.secondHigh
                            : IsContinuation(next);
      if (!fits) {
        if (k == 1 && IsContinuation(next)) ++used;  // Windows' pairing
        complete = false;
        break;
      }
      code = (code << 6) | (next & 0x3F);
      ++used;
    }
    i += used;
    if (!complete) {
      *out++ = kReplacement;  // the invalid bytes just skipped
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      *out++ = char16_t(0xD800 + (code >> 10));
      *out++ = char16_t(0xDC00 + (code & 0x3FF));
    } else {
      *out++ = char16_t(code);
    }
  }
  return std::size_t(out - start);
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  // Short text (a dictionary word, a name) is decoded on the stack and
  // copied once at its exact size, so a short result never touches the
  // heap; longer text is decoded in place and cut to size.
  constexpr std::size_t kShortText = 64;
  if (utf8.size() <= kShortText) {
    char16_t units[kShortText];
    return std::u16string(units, DecodeUtf8(utf8, units));
  }
  std::u16string out(utf8.size(), u'\0');
  out.resize(DecodeUtf8(utf8, out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() &&
        utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      const char32_t code =
          0x10000 + ((char32_t(unit) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      AppendUtf8(out, code);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::filesystem::path NativePath(std::u16string_view path) {
  std::string bytes;
  bytes.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char16_t unit = path[i];
    if (IsHighSurrogate(unit) && i + 1 < path.size() &&
        IsLowSurrogate(path[i + 1])) {
      AppendUtf8(bytes, 0x10000 + ((char32_t(unit) - 0xD800) << 10) +
                            (path[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF) {
      bytes += char(unit - kEscapedByte);
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(bytes, kReplacement);
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  return std::filesystem::path(std::move(bytes));
}

std::u16string PathText(const std::filesystem::path& path) {
  const std::string& native = path.native();
  const auto* bytes = reinterpret_cast<const uint8_t*>(native.data());
  std::u16string out;
  out.reserve(native.size());
  for (std::size_t i = 0; i < native.size();) {
    const std::size_t length = ValidSequenceAt(bytes, native.size(), i);
    if (length == 0) {
      out += char16_t(kEscapedByte + bytes[i]);
      ++i;
    } else {
      out += Utf8ToUtf16(native.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::u16string HostText(std::u16string_view text) {
  std::u16string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (IsHighSurrogate(out[i]) && i + 1 < out.size() &&
        IsLowSurrogate(out[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(out[i]) || IsLowSurrogate(out[i])) {
      out[i] = kReplacement;
    }
  }
  return out;
}

}  // namespace vesk::platform
