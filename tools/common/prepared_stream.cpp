#include "prepared_stream.h"

#include "frontend/text_runs.h"
#include "host_text.h"

namespace vesk::host {

namespace {

bool IsSentenceMark(char16_t c) {
  return ClassifyCharacter(c) == TextRun::SentenceMark;
}

}  // namespace

PreparedStream::PreparedStream(bool prepare,
                               const textprep::PrepOptions& options)
    : prepare_(prepare), options_(options) {}

void PreparedStream::Append(std::u16string_view text) { pending_ += text; }

std::u16string PreparedStream::Take(bool final) {
  std::u16string out;
  while (const std::size_t length =
             NextPieceLength(pending_, kPrepareSegmentLimit, final)) {
    out += PrepareSegment(std::u16string_view(pending_).substr(0, length));
    pending_.erase(0, length);
  }
  return out;
}

std::u16string PreparedStream::PrepareSegment(std::u16string_view segment) {
  if (!prepare_) return std::u16string(segment);
  std::u16string part = textprep::PrepareText(segment, options_);
  if (pauseOwed_ && HasContent(part) && !IsSentenceMark(part.front())) {
    part.insert(part.begin(), u'，');
  }
  const auto last = part.find_last_not_of(u" \t\r\n");
  const bool endsHeard =
      last != std::u16string::npos && !IsSentenceMark(part[last]);
  pauseOwed_ = segment.back() == u'\n' &&
               (last == std::u16string::npos ? pauseOwed_ : endsHeard);
  return part;
}

}  // namespace vesk::host
