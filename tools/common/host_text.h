// Text as every host handles it: the engine's own UTF-8 <-> UTF-16
// conversion, and where a text may be cut into pieces for the engine
// without changing what it says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::host {

// UTF-8 <-> UTF-16 exactly as the engine converts them.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

// Where text may be cut without changing what the engine says: after a
// character that ends every run the engine reads as one piece (anything but
// a Chinese character, an ASCII digit or an ASCII letter).
bool IsSafeCutAfter(char16_t c);

// Length of the next piece of text to speak, at most limit code units:
// through the last line break within the limit, else the last safe cut,
// else the limit itself (never inside a surrogate pair). The whole text when
// it is not longer than limit and final is true; 0 when more text is needed
// before a cut can be chosen (not final and no line break yet).
std::size_t NextPieceLength(std::u16string_view text, std::size_t limit,
                            bool final);

// True when the piece holds something besides blanks and line breaks.
bool HasContent(std::u16string_view piece);

}  // namespace vesk::host
