// The text preparation's streaming front, which every host feeds: text comes
// in as it is decoded, is prepared a segment at a time (cut at line breaks
// where there are any, so that preparation sees whole lines) and goes out
// ready for the engine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text_prep.h"

namespace vesk::host {

class PreparedStream {
 public:
  // prepare false hands the text on untouched (a host's raw mode).
  explicit PreparedStream(bool prepare = true,
                          const textprep::PrepOptions& options = {});

  // More text of the same stream.
  void Append(std::u16string_view text);

  // The prepared text of every segment that can be cut so far; with final,
  // of all that was appended. A pause owed across the cut is carried on
  // either way, so a host may take a piece at a mark and go on.
  std::u16string Take(bool final);

 private:
  std::u16string PrepareSegment(std::u16string_view segment);

  bool prepare_;
  textprep::PrepOptions options_;
  std::u16string pending_;
  // A segment that ends at a line break cannot pause there (nothing follows
  // it yet): the pause is owed to the next segment that says something.
  bool pauseOwed_ = false;
};

// Segments are at most this many code units long.
inline constexpr std::size_t kPrepareSegmentLimit = 64 * 1024;

}  // namespace vesk::host
