#include "text_prep.h"

#include "frontend/text_runs.h"

#include <unicode/locid.h>
#include <unicode/rbnf.h>
#include <unicode/unorm2.h>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace vesk::textprep {
namespace {

using std::u16string;
using std::u16string_view;

constexpr u16string_view kDigitNames = u"零一二三四五六七八九";
// The engine's default pause mark for the pauses added here.
constexpr char16_t kPause = u'，';

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool IsWordChar(char16_t c) { return IsDigit(c) || IsLetter(c) || c == u'_'; }
bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == 0x3000 || c == 0xA0;
}
bool IsLineBreak(char16_t c) {
  return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 ||
         c == 0x2028 || c == 0x2029;
}
// The marks on which the engine plays its pause.
bool IsSentenceMark(char16_t c) {
  return ClassifyCharacter(c) == TextRun::SentenceMark;
}
// Marks a reader pauses on that the engine passes over in silence.
bool IsPausingMark(char16_t c) {
  return u16string_view(u";:、…—―–()[]{}【】〔〕〖〗|‖•").find(c) !=
         u16string_view::npos;
}

// ¼ ½ ¾ and ⅐ … ⅞: NFKC would run them into a digit before (1½ → 11⁄2).
bool IsVulgarFraction(char16_t c) {
  return (c >= 0xBC && c <= 0xBE) || (c >= 0x2150 && c <= 0x215E) ||
         c == 0x2189;
}

bool IsMinus(char16_t c) { return c == u'-' || c == 0x2212; }
bool IsRangeMark(char16_t c) { return c == u'~' || c == 0x301C || c == u'–'; }

bool StartsWith(u16string_view s, std::size_t at, u16string_view prefix) {
  return s.substr(at, prefix.size()) == prefix;
}

// ---- Normalisation -------------------------------------------------------

// NFKC, except for the superscripts ² and ³ (m² must not become m2), the
// vulgar fractions and
// the full-width sentence marks (the engine pauses on them as they are, and
// "1，2" is a list, not one thousand and two); 〇 as 零; unpaired surrogates
// (silent to the engine, invalid for the hosts) dropped.
void AppendNfkc(u16string_view part, u16string& out) {
  if (part.empty()) return;
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfkc = unorm2_getNFKCInstance(&status);
  if (U_SUCCESS(status)) {
    const int32_t length = int32_t(part.size());
    // Most text is already in NFKC: copy that prefix without a second pass.
    const int32_t done = unorm2_spanQuickCheckYes(
        nfkc, reinterpret_cast<const UChar*>(part.data()), length, &status);
    if (U_SUCCESS(status)) {
      out.append(part.substr(0, std::size_t(done)));
      if (done == length) return;
      const u16string_view rest = part.substr(std::size_t(done));
      const std::size_t at = out.size();
      out.resize(at + rest.size() * 3 + 8);
      int32_t written = unorm2_normalize(
          nfkc, reinterpret_cast<const UChar*>(rest.data()),
          int32_t(rest.size()), reinterpret_cast<UChar*>(out.data() + at),
          int32_t(out.size() - at), &status);
      if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        out.resize(at + std::size_t(written));
        written = unorm2_normalize(
            nfkc, reinterpret_cast<const UChar*>(rest.data()),
            int32_t(rest.size()), reinterpret_cast<UChar*>(out.data() + at),
            written, &status);
      }
      if (U_SUCCESS(status)) {
        out.resize(at + std::size_t(written));
        return;
      }
      out.resize(at);
      out.append(rest);
      return;
    }
  }
  out.append(part);
}

u16string Normalize(u16string_view text) {
  u16string nfkc;
  nfkc.reserve(text.size() + 8);
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (u16string_view(u"²³，！？").find(text[i]) != u16string_view::npos ||
        IsVulgarFraction(text[i])) {
      AppendNfkc(text.substr(from, i - from), nfkc);
      nfkc += text[i];
      from = i + 1;
    }
  }
  AppendNfkc(text.substr(from), nfkc);
  u16string out;
  out.reserve(nfkc.size());
  for (std::size_t i = 0; i < nfkc.size(); ++i) {
    const char16_t c = nfkc[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < nfkc.size() &&
        nfkc[i + 1] >= 0xDC00 && nfkc[i + 1] <= 0xDFFF) {
      out += c;
      out += nfkc[++i];
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      continue;
    } else {
      out += c == u'〇' ? u'零' : c;
    }
  }
  return out;
}

// ---- Output --------------------------------------------------------------

// The prepared text with the pauses still to be placed: a pause is put only
// between two things that are heard, never twice, never next to a mark the
// engine already pauses on.
class Writer {
 public:
  explicit Writer(std::size_t reserve) { out_.reserve(reserve); }
  void Pause() { pendingPause_ = true; }
  void Blank(char16_t c) { out_ += c; }
  // 一 of a number read digit by digit keeps its first tone: the engine's
  // sandhi of 一 inside a Chinese run (一三 yi4 san1) is for words, so a
  // blank ends the run after it.
  void PutDigitOne() {
    Put(u'一');
    splitAfterOne_ = true;
  }
  void Put(char16_t c) {
    if (splitAfterOne_) {
      splitAfterOne_ = false;
      if (IsHan(c)) out_ += u' ';
    }
    if (IsSentenceMark(c)) {
      pendingPause_ = false;
      // A run of marks would play the pause once per mark.
      if (lastHeard_ != npos && IsSentenceMark(out_[lastHeard_]) &&
          lastHeard_ + 1 == out_.size())
        return;
    } else {
      FlushPause();
    }
    lastHeard_ = out_.size();
    out_ += c;
  }
  void Put(u16string_view s) {
    for (char16_t c : s) Put(c);
  }
  // A run of Chinese characters, the bulk of most text, in one piece.
  void PutHan(u16string_view run) {
    if (run.empty()) return;
    Put(run[0]);
    out_.append(run.substr(1));
    lastHeard_ = out_.size() - 1;
  }
  u16string Take() { return std::move(out_); }

 private:
  static constexpr std::size_t npos = u16string::npos;
  void FlushPause() {
    if (!pendingPause_) return;
    pendingPause_ = false;
    if (lastHeard_ == npos || IsSentenceMark(out_[lastHeard_])) return;
    // After what was heard, before the blanks and line breaks that follow.
    out_.insert(out_.begin() + std::ptrdiff_t(lastHeard_ + 1), kPause);
  }
  u16string out_;
  std::size_t lastHeard_ = npos;
  bool pendingPause_ = false;
  bool splitAfterOne_ = false;
};

// ---- Number readings -----------------------------------------------------

void PutDigitNames(u16string_view digits, Writer& w) {
  for (char16_t d : digits) {
    if (d == u'1')
      w.PutDigitOne();
    else
      w.Put(kDigitNames[std::size_t(d - u'0')]);
  }
}

u16string_view StripZeros(u16string_view digits) {
  const std::size_t first = digits.find_first_not_of(u'0');
  return first == u16string_view::npos ? digits.substr(digits.size() - 1)
                                       : digits.substr(first);
}

int ValueOf(u16string_view digits) {  // small fields only (dates, times)
  if (digits.size() > 4) return 1 << 30;
  int v = 0;
  for (char16_t d : digits) v = v * 10 + (d - u'0');
  return v;
}

// The engine says 两 for every 二 before 万 and 亿, also where the 2 is the
// last digit of its group (120000 十两万, 1020000 一百零两万); there it is
// 二.
bool EngineMisreadsTwo(u16string_view digits) {
  digits = StripZeros(digits);
  if (digits.size() > 10) return false;
  int64_t value = 0;
  for (char16_t d : digits) value = value * 10 + (d - u'0');
  const int64_t wan = value / 10000 % 10000, yi = value / 100000000;
  return (wan % 10 == 2 && wan > 2) || (yi % 10 == 2 && yi > 2);
}

// A cardinal the engine reads wrong or not at all (above ten digits, or with
// a 2 it misreads): ICU's Chinese spell-out, which has the engine's
// structure, with the two fixes its readings need here (〇 is silent to the
// engine; 二 at the head of a 万 or 亿 group is said 两).
bool PutCardinal(u16string_view digits, Writer& w) {
  thread_local std::unique_ptr<icu::RuleBasedNumberFormat> format = [] {
    UErrorCode status = U_ZERO_ERROR;
    auto f = std::make_unique<icu::RuleBasedNumberFormat>(
        icu::URBNF_SPELLOUT, icu::Locale::getChinese(), status);
    return U_FAILURE(status) ? nullptr : std::move(f);
  }();
  digits = StripZeros(digits);
  if (!format || digits.size() > 18) return false;
  int64_t value = 0;
  for (char16_t d : digits) value = value * 10 + (d - u'0');
  icu::UnicodeString spelled;
  format->format(value, spelled);
  u16string reading(reinterpret_cast<const char16_t*>(spelled.getBuffer()),
                    std::size_t(spelled.length()));
  for (std::size_t i = 0; i < reading.size(); ++i) {
    if (reading[i] == u'〇') reading[i] = u'零';
    if (reading[i] == u'二' && i + 1 < reading.size() &&
        (reading[i + 1] == u'万' || reading[i + 1] == u'亿') &&
        (i == 0 || reading[i - 1] == u'万' || reading[i - 1] == u'亿'))
      reading[i] = u'两';
  }
  w.Put(reading);
  return true;
}

// A number as the engine should hear it: an integer part it reads itself
// (ASCII digits), the digits after the point one by one.
struct Decimal {
  u16string integer;  // digits, thousands separators removed
  u16string_view fraction;
  bool grouped = false;  // written with thousands separators
};

enum class Context { kPlain, kYear, kTwoAsLiang };

void PutDecimal(const Decimal& d, Context context, Writer& w) {
  const u16string_view integer = d.integer;
  if (context == Context::kYear && d.fraction.empty()) {
    PutDigitNames(integer, w);
  } else if (StripZeros(integer).size() > 10) {
    // Grouped by thousands it is a quantity; otherwise a code.
    if (!(d.grouped && PutCardinal(integer, w))) PutDigitNames(integer, w);
  } else if (EngineMisreadsTwo(integer) && PutCardinal(integer, w)) {
  } else if (context == Context::kTwoAsLiang && d.fraction.empty() &&
             StripZeros(integer) == u"2") {
    w.Put(u'两');
  } else {
    w.Put(d.fraction.empty() && integer.size() > 1 && integer[0] == u'0'
              ? StripZeros(integer)
              : integer);
  }
  if (!d.fraction.empty()) {
    w.Put(u'点');
    PutDigitNames(d.fraction, w);
  }
}

// The pieces of a number token: digit runs and the single marks between
// them ("2026-12-09": 2026 - 12 - 09).
struct Token {
  std::vector<u16string_view> parts;
  std::vector<char16_t> marks;
  std::size_t end = 0;
};

bool IsJoiner(char16_t c) {
  return c == u'.' || c == u',' || c == u':' || c == u'/' || c == u'⁄' ||
         IsMinus(c) || IsRangeMark(c);
}

Token ScanToken(u16string_view s, std::size_t i) {
  Token t;
  for (;;) {
    std::size_t end = i;
    while (end < s.size() && IsDigit(s[end])) ++end;
    t.parts.push_back(s.substr(i, end - i));
    t.end = end;
    if (end + 1 < s.size() && IsJoiner(s[end]) && IsDigit(s[end + 1])) {
      t.marks.push_back(s[end] == u'⁄' ? u'/' : s[end]);
      i = end + 1;
    } else {
      return t;
    }
  }
}

// Parts [from, to) read as one decimal: 1,234,567.89. nullopt when they
// are not one.
std::optional<Decimal> AsDecimal(const Token& t, std::size_t from,
                                 std::size_t to) {
  Decimal d;
  d.integer = u16string(t.parts[from]);
  std::size_t k = from + 1;
  if (k < to && t.marks[k - 1] == u',' && t.parts[from].size() <= 3) {
    while (k < to && t.marks[k - 1] == u',' && t.parts[k].size() == 3) {
      d.integer += t.parts[k++];
      d.grouped = true;
    }
    if (!d.grouped) return std::nullopt;
  }
  if (k < to && t.marks[k - 1] == u'.') d.fraction = t.parts[k++];
  if (k != to) return std::nullopt;
  return d;
}

// a < b for decimals without fraction, compared as digit strings.
bool Below(const Decimal& a, const Decimal& b) {
  const u16string_view x = StripZeros(a.integer), y = StripZeros(b.integer);
  if (!a.fraction.empty() || !b.fraction.empty())
    return x.size() < y.size() || (x.size() == y.size() && x <= y);
  return x.size() < y.size() || (x.size() == y.size() && x < y);
}

bool ModernYear(u16string_view digits) {
  return digits.size() == 4 &&
         (StartsWith(digits, 0, u"19") || StartsWith(digits, 0, u"20"));
}

bool ValidDate(u16string_view y, u16string_view m, u16string_view d) {
  const int month = ValueOf(m), day = ValueOf(d);
  return y.size() == 4 && (y[0] == u'1' || y[0] == u'2') && m.size() <= 2 &&
         d.size() <= 2 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// ---- Context -------------------------------------------------------------

// Words before a number that make it a code read digit by digit.
constexpr u16string_view kCodeWords[] = {
    u"电话", u"手机", u"号码", u"热线", u"传真", u"邮编",   u"编号",
    u"账号", u"卡号", u"尾号", u"单号", u"证号", u"验证码", u"工号",
    u"学号", u"密码", u"代码", u"QQ",   u"Tel"};

bool AfterCodeWord(u16string_view s, std::size_t at) {
  const std::size_t from = at > 8 ? at - 8 : 0;
  const u16string_view before = s.substr(from, at - from);
  for (u16string_view word : kCodeWords) {
    if (before.find(word) != u16string_view::npos) return true;
  }
  return false;
}

// Measure words after which 2 is said 两.
constexpr u16string_view kLiangWords =
    u"个位只条张本件次天年岁人名台辆种份层块家间把支双对座部篇首句周秒斤倍"
    u"杯碗瓶盒套节场所架头棵朵片颗粒封页遍趟回万亿千百点元角毛声步口门艘"
    u"枚根盘局轮项小分克米公";

// After a number, these characters name a date or time field, where the
// engine's reading of a leading zero (05月) is already right.
constexpr u16string_view kFieldWords = u"年月日号时点分秒";

struct Unit {
  u16string_view written;
  u16string_view reading;
  bool liang;  // 2 of it is said 两
};

// Longest written form first where one is a prefix of another.
constexpr Unit kUnits[] = {
    {u"km/h", u"千米每小时", true},
    {u"m/s", u"米每秒", true},
    {u"km²", u"平方千米", true},
    {u"cm²", u"平方厘米", true},
    {u"m²", u"平方米", true},
    {u"m³", u"立方米", true},
    {u"cm³", u"立方厘米", true},
    {u"km", u"千米", true},
    {u"kg", u"千克", true},
    {u"cm", u"厘米", true},
    {u"mm", u"毫米", true},
    {u"ml", u"毫升", true},
    {u"mL", u"毫升", true},
    {u"mg", u"毫克", true},
    {u"ms", u"毫秒", true},
    {u"min", u"分钟", true},
    {u"kHz", u"千赫兹", false},
    {u"MHz", u"兆赫兹", false},
    {u"GHz", u"吉赫兹", false},
    {u"Hz", u"赫兹", false},
    {u"KB", u"千字节", false},
    {u"kB", u"千字节", false},
    {u"MB", u"兆字节", false},
    {u"GB", u"吉字节", false},
    {u"TB", u"太字节", false},
    {u"kWh", u"千瓦时", true},
    {u"kW", u"千瓦", true},
    {u"μm", u"微米", true},
    {u"nm", u"纳米", true},
    {u"dB", u"分贝", false},
    {u"kcal", u"千卡", true},
    {u"Mbps", u"兆比特每秒", false},
    {u"kbps", u"千比特每秒", false},
    {u"px", u"像素", false},
    {u"mAh", u"毫安时", false},
    {u"°C", u"摄氏度", false},
    {u"℃", u"摄氏度", false},
    {u"°F", u"华氏度", false},
    {u"℉", u"华氏度", false},
    {u"°", u"度", false},
    {u"m", u"米", true},
    {u"g", u"克", true},
    {u"L", u"升", true},
    {u"s", u"秒", true},
    {u"h", u"小时", true},
    {u"t", u"吨", true},
    {u"W", u"瓦", false},
    {u"V", u"伏", false},
};

// The unit written at s[at] (after at most one blank), with its end.
std::optional<std::pair<const Unit*, std::size_t>> UnitAt(u16string_view s,
                                                          std::size_t at) {
  if (at < s.size() && s[at] == u' ') ++at;
  for (const Unit& unit : kUnits) {
    if (!StartsWith(s, at, unit.written)) continue;
    const std::size_t end = at + unit.written.size();
    if (end < s.size() && IsWordChar(s[end])) continue;
    return std::pair{&unit, end};
  }
  return std::nullopt;
}

struct Currency {
  char16_t sign;
  u16string_view reading;
};
constexpr Currency kCurrencies[] = {
    {u'¥', u"元"}, {u'$', u"美元"}, {u'€', u"欧元"}, {u'£', u"英镑"}};

const Currency* CurrencyOf(char16_t c) {
  for (const Currency& cur : kCurrencies)
    if (cur.sign == c) return &cur;
  return nullptr;
}

// ---- The number reader ---------------------------------------------------

class Preparer {
 public:
  Preparer(u16string_view s, const PrepOptions& options)
      : s_(s), options_(options), w_(s.size() + s.size() / 2 + 8) {}

  u16string Run() {
    while (i_ < s_.size()) Step();
    return w_.Take();
  }

 private:
  char16_t At(std::size_t k) const { return k < s_.size() ? s_[k] : 0; }
  // The closest character before k that is not a blank (0 at the start).
  char16_t HeardBefore(std::size_t k) const {
    while (k > 0 && IsSpace(s_[k - 1])) --k;
    return k > 0 ? s_[k - 1] : 0;
  }
  std::size_t SkipBlanks(std::size_t k) const {
    while (k < s_.size() && IsSpace(s_[k])) ++k;
    return k;
  }

  void Step() {
    const char16_t c = s_[i_];
    if (IsHan(c)) {
      std::size_t end = i_ + 1;
      while (end < s_.size() && IsHan(s_[end])) ++end;
      w_.PutHan(s_.substr(i_, end - i_));
      i_ = end;
      return;
    }
    if (IsDigit(c)) return Number(i_, 0, nullptr);
    if ((IsMinus(c) || c == u'+' || c == u'±') && IsDigit(At(i_ + 1))) {
      // A sign stands after a blank or a mark, never right after a number
      // or a name (5-3, ISO-8859).
      const char16_t before = i_ > 0 ? s_[i_ - 1] : 0;
      if (before == u'%' || before == u'‰') {  // 50%-60%
        w_.Put(IsMinus(c) ? u'到' : c);
        ++i_;
        return;
      }
      if (!IsWordChar(before) &&
          u16string_view(u")]}°℃℉²³").find(before) == u16string_view::npos)
        return Number(i_ + 1, c, nullptr);
    }
    if (const Currency* cur = CurrencyOf(c)) {
      std::size_t k = At(i_ + 1) == u' ' ? i_ + 2 : i_ + 1;
      if (IsDigit(At(k)) && !IsLetter(HeardBefore(i_)))
        return Number(k, 0, cur);
    }
    if (IsLetter(c)) return Word();
    if (IsLineBreak(c) || IsPausingMark(c)) {
      w_.Pause();
      if (IsLineBreak(c)) w_.Blank(c);
      ++i_;
      return;
    }
    if (c == u'.' && At(i_ + 1) == u'.') {  // "..." (an ellipsis after NFKC)
      while (At(i_) == u'.') ++i_;
      w_.Pause();
      return;
    }
    if (IsSpace(c)) {
      w_.Blank(c);
      ++i_;
      return;
    }
    if (IsVulgarFraction(c)) return VulgarFraction();
    if (c == u'/' && Per()) return;
    if (options_.readSymbols && Symbol(c)) return;
    w_.Put(c);
    ++i_;
  }

  // A word in Latin letters, with the digits, dashes and points that belong
  // to it (x86_64, ISO-8859-1, H2O), is left to the engine, which spells the
  // letters; only "v1.2.3" has its points read.
  void Word() {
    std::size_t end = i_;
    for (;;) {
      while (end < s_.size() && IsWordChar(s_[end])) ++end;
      if (end + 1 < s_.size() && (s_[end] == u'-' || s_[end] == u'.') &&
          IsWordChar(s_[end + 1]) &&
          !(s_[end] == u'.' && IsLetter(s_[end + 1])))
        ++end;
      else
        break;
    }
    const u16string_view word = s_.substr(i_, end - i_);
    if ((word[0] == u'v' || word[0] == u'V') && word.size() > 1 &&
        IsDigit(word[1]) &&
        word.find_first_not_of(u"0123456789.", 1) == u16string_view::npos) {
      w_.Put(word[0]);
      for (char16_t ch : word.substr(1)) w_.Put(ch == u'.' ? u'点' : ch);
    } else {
      w_.Put(word);
    }
    i_ = end;
  }

  // ½ → 2分之1, 1½ → 1又2分之1.
  void VulgarFraction() {
    u16string parts;
    AppendNfkc(s_.substr(i_, 1), parts);  // "1⁄2"
    const std::size_t slash = parts.find(u'⁄');
    ++i_;
    if (slash == u16string::npos) return w_.Put(parts);
    if (i_ > 1 && IsDigit(s_[i_ - 2])) w_.Put(u'又');
    w_.Put(u16string_view(parts).substr(slash + 1));
    w_.Put(u"分之");
    w_.Put(u16string_view(parts).substr(0, slash));
  }

  // 元/斤, 5MB/s, 次/秒: "per" between a measure and a unit.
  bool Per() {
    static constexpr u16string_view kPerWords =
        u"斤两吨天月年日周时秒分人次件个台份张瓶盒箱袋包位间晚";
    const char16_t before = i_ > 0 ? s_[i_ - 1] : 0;
    if (!IsHan(before) && !IsLetter(before)) return false;
    if (kPerWords.find(At(i_ + 1)) != u16string_view::npos && IsHan(before)) {
      w_.Put(u'每');
      ++i_;
      return true;
    }
    const auto unit = UnitAt(s_, i_ + 1);
    if (!unit || At(i_ + 1) == u' ') return false;
    w_.Put(u'每');
    w_.Put(unit->first->reading);
    i_ = unit->second;
    return true;
  }

  // Symbol names, for hosts without a symbol pass of their own. Comparison
  // signs are named only between numbers (a > in "首页 > 新闻" is a path).
  bool Symbol(char16_t c) {
    struct Name {
      char16_t symbol;
      u16string_view name;
      bool betweenNumbers;
    };
    static constexpr Name kNames[] = {
        {u'+', u"加", false},       {u'×', u"乘", false},
        {u'÷', u"除以", false},     {u'=', u"等于", false},
        {u'≈', u"约等于", false},   {u'≠', u"不等于", false},
        {u'≤', u"小于等于", false}, {u'≥', u"大于等于", false},
        {u'<', u"小于", true},      {u'>', u"大于", true},
        {u'*', u"乘", true},        {u'%', u"百分号", false},
        {u'‰', u"千分号", false},   {u'&', u"和", false},
        {u'@', u"艾特", false},     {u'#', u"井号", false},
        {u'±', u"正负", false},
    };
    u16string_view name;
    for (const Name& n : kNames) {
      if (n.symbol != c) continue;
      if (!n.betweenNumbers ||
          (IsDigit(HeardBefore(i_)) && IsDigit(At(SkipBlanks(i_ + 1)))))
        name = n.name;
    }
    if (const Currency* cur = CurrencyOf(c)) name = cur->reading;
    if (name.empty()) return false;
    w_.Put(name);
    ++i_;
    return true;
  }

  // A number starting at digit position at, after a sign or a currency.
  void Number(std::size_t at, char16_t sign, const Currency* currency) {
    const std::size_t start = i_;
    Token t = ScanToken(s_, at);
    // A number run into letters that are no unit (5G, 1080p, 3D) is a name.
    if (IsLetter(At(t.end)) && !UnitAt(s_, t.end) && !HalfDayAt(t.end)) {
      std::size_t end = t.end;
      while (end < s_.size() && IsWordChar(s_[end])) ++end;
      w_.Put(s_.substr(start, end - start));
      i_ = end;
      return;
    }
    if (!sign && !currency && SpacedPhone(at)) return;
    i_ = t.end;
    if (!Reading(t, start, sign, currency)) {
      // Not understood: the digits are left to the engine's plain number
      // reading, the marks between them to its silence or pause.
      w_.Put(s_.substr(start, t.end - start));
    }
  }

  // am/pm after a time (9:05 am, 9:05PM, 9:05 p.m.): its reading and end.
  std::optional<std::pair<u16string_view, std::size_t>> HalfDayAt(
      std::size_t at) const {
    if (At(at) == u' ') ++at;
    for (const auto& [written, reading] :
         std::array<std::pair<u16string_view, u16string_view>, 8>{
             {{u"a.m.", u"上午"},
              {u"p.m.", u"下午"},
              {u"A.M.", u"上午"},
              {u"P.M.", u"下午"},
              {u"am", u"上午"},
              {u"pm", u"下午"},
              {u"AM", u"上午"},
              {u"PM", u"下午"}}}) {
      if (StartsWith(s_, at, written) && !IsLetter(At(at + written.size())))
        return std::pair{reading, at + written.size()};
    }
    return std::nullopt;
  }

  void PutSign(char16_t sign, bool belowZero) {
    if (IsMinus(sign))
      w_.Put(belowZero ? u"零下" : u"负");
    else if (sign == u'+')
      w_.Put(u'正');
    else if (sign == u'±')
      w_.Put(u"正负");
  }

  // Writes the reading of the token; false when it is left to the engine.
  bool Reading(const Token& t, std::size_t start, char16_t sign,
               const Currency* currency) {
    const std::size_t n = t.parts.size();
    const auto allMarks = [&](auto pred) {
      for (char16_t m : t.marks)
        if (!pred(m)) return false;
      return true;
    };
    const bool ordinal = HeardBefore(start) == u'第';
    // Dates: 2026-12-09, 2026/12/9, 2026.12.09.
    if (n == 3 && !sign && !currency && t.marks[0] == t.marks[1] &&
        (IsMinus(t.marks[0]) || t.marks[0] == u'/' || t.marks[0] == u'.') &&
        ValidDate(t.parts[0], t.parts[1], t.parts[2])) {
      PutDigitNames(t.parts[0], w_);
      w_.Put(u'年');
      w_.Put(StripZeros(t.parts[1]));
      w_.Put(u'月');
      w_.Put(StripZeros(t.parts[2]));
      if (At(i_) != u'日' && At(i_) != u'号') w_.Put(u'日');
      return true;
    }
    // Times: 9:05, 21:30, 08:00:30, with am/pm.
    if (t.marks.size() >= 1 && t.marks.size() <= 2 && !sign && !currency &&
        allMarks([](char16_t m) { return m == u':'; }))
      return Time(t);
    // Addresses and versions: 192.168.1.10, 1.2.3.
    if (n >= 3 && !currency && allMarks([](char16_t m) { return m == u'.'; })) {
      bool address = n == 4;
      for (u16string_view p : t.parts)
        address = address && p.size() <= 3 && ValueOf(p) <= 255;
      if (sign) w_.Put(sign);
      for (std::size_t k = 0; k < n; ++k) {
        if (k) w_.Put(u'点');
        if (address || (t.parts[k].size() > 1 && t.parts[k][0] == u'0'))
          PutDigitNames(t.parts[k], w_);
        else
          w_.Put(t.parts[k]);
      }
      return true;
    }
    // Fractions: 3/4 is 四分之三; a/b with a >= b is as likely a date or a
    // page count, and stays as two numbers.
    if (n == 2 && t.marks[0] == u'/' && !currency) {
      if (ValueOf(t.parts[0]) >= ValueOf(t.parts[1]) || t.parts[0][0] == u'0' ||
          t.parts[1][0] == u'0')
        return false;
      PutSign(sign, false);
      w_.Put(t.parts[1]);
      w_.Put(u"分之");
      w_.Put(t.parts[0]);
      return true;
    }
    // Ranges (3-5, 3~5, 1.5~2.5): the mark between two decimals.
    std::size_t rangeAt = n;
    bool clock = false;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      if (IsMinus(t.marks[k]) || IsRangeMark(t.marks[k])) {
        if (rangeAt != n) return Code(t, start);
        rangeAt = k + 1;
      } else if (t.marks[k] == u':') {
        clock = true;
      } else if (t.marks[k] != u'.' && t.marks[k] != u',') {
        return false;
      }
    }
    if (clock)
      return rangeAt != n && !sign && !currency && TimeRange(t, rangeAt);
    if (rangeAt == n) {
      const auto d = AsDecimal(t, 0, n);
      if (!d) return false;
      return Single(*d, start, sign, currency, ordinal);
    }
    const auto from = AsDecimal(t, 0, rangeAt);
    const auto to = AsDecimal(t, rangeAt, n);
    if (!from || !to) return false;
    const char16_t mark = t.marks[rangeAt - 1];
    const bool code = AfterCodeWord(s_, start) || t.parts[0][0] == u'0';
    if (IsMinus(mark) && code && n == 2) {
      // 0571-88888888: a telephone number, a pause where the dash is.
      PutDigitNames(t.parts[0], w_);
      w_.Pause();
      PutDigitNames(t.parts[1], w_);
      return true;
    }
    if (IsMinus(mark) && n == 2 && !currency && !sign &&
        ValidDate(t.parts[0], t.parts[1], u"1") && t.parts[1].size() == 2) {
      PutDigitNames(t.parts[0], w_);  // 2026-12: year and month
      w_.Put(u'年');
      w_.Put(StripZeros(t.parts[1]));
      w_.Put(u'月');
      return true;
    }
    const bool formula =
        At(SkipBlanks(i_)) == u'=' || HeardBefore(start) == u'=';
    if (IsMinus(mark) && formula) {
      if (!options_.readSymbols) return false;
      PutSign(sign, false);
      PutDecimal(*from, Context::kPlain, w_);
      w_.Put(u'减');
      PutDecimal(*to, Context::kPlain, w_);
      return true;
    }
    // 2-3 reads 二到三 only when it rises; 3-2 may be a score, a date or a
    // subtraction, and is left as two numbers.
    if (IsMinus(mark) && !Below(*from, *to)) return false;
    const Suffix suffix = SuffixAt(i_, start);
    // 2020-2025 and 1990~2000年: years, read digit by digit.
    const bool years =
        from->fraction.empty() && to->fraction.empty() && !from->grouped &&
        !to->grouped && ValidDate(from->integer, u"1", u"1") &&
        ValidDate(to->integer, u"1", u"1") &&
        (At(i_) == u'年' ||
         (ModernYear(from->integer) && ModernYear(to->integer) &&
          !IsHan(At(i_)) && suffix.reading.empty() && suffix.prefix.empty()));
    const Context context = years ? Context::kYear : Context::kPlain;
    if (currency) {
      PutDecimal(*from, context, w_);
      w_.Put(u'到');
      PutDecimal(*to, context, w_);
      w_.Put(currency->reading);
      return true;
    }
    PutSign(sign, suffix.belowZero);
    w_.Put(suffix.prefix);
    PutDecimal(*from, context, w_);
    w_.Put(u'到');
    w_.Put(suffix.prefix);
    PutDecimal(*to, context, w_);
    PutSuffix(suffix);
    return true;
  }

  // What follows a number and changes how it is said.
  struct Suffix {
    u16string_view prefix;   // 百分之
    u16string_view reading;  // the unit's words
    std::size_t end = 0;     // after the written suffix
    bool liang = false;
    bool belowZero = false;  // a temperature: 零下 for the minus sign
  };

  // 138 1234 5678: a mobile number written in groups.
  bool SpacedPhone(std::size_t at) {
    static constexpr std::array<std::size_t, 3> kGroups = {3, 4, 4};
    if (At(at) != u'1') return false;
    std::size_t k = at;
    for (std::size_t g = 0; g < kGroups.size(); ++g) {
      if (g) {
        if (At(k) != u' ') return false;
        ++k;
      }
      for (std::size_t d = 0; d < kGroups[g]; ++d, ++k)
        if (!IsDigit(At(k))) return false;
    }
    if (IsWordChar(At(k))) return false;
    for (std::size_t g = 0, from = at; g < kGroups.size(); ++g) {
      if (g) w_.Blank(u' ');
      PutDigitNames(s_.substr(from, kGroups[g]), w_);
      from += kGroups[g] + 1;
    }
    i_ = k;
    return true;
  }

  // 400-800-8888, 138-1234-5678: more than one dash between digits that
  // are no date make a telephone number or a code, read digit by digit with
  // a pause at each dash.
  bool Code(const Token& t, std::size_t start) {
    for (char16_t m : t.marks)
      if (!IsMinus(m)) return false;
    if (HeardBefore(start) == u'-') return false;
    for (std::size_t k = 0; k < t.parts.size(); ++k) {
      if (k) w_.Pause();
      PutDigitNames(t.parts[k], w_);
    }
    return true;
  }

  // A one-letter unit counts only after a number that is not part of a name
  // (iPhone 5s).
  Suffix SuffixAt(std::size_t at, std::size_t start) const {
    Suffix x;
    x.end = at;
    if (At(at) == u'%') {
      x.prefix = u"百分之";
      x.end = at + 1;
    } else if (At(at) == u'‰') {
      x.prefix = u"千分之";
      x.end = at + 1;
    } else if (auto unit = UnitAt(s_, at);
               unit && !(unit->first->written.size() == 1 &&
                         IsLetter(HeardBefore(start)))) {
      x.reading = unit->first->reading;
      x.liang = unit->first->liang;
      x.end = unit->second;
      x.belowZero = unit->first->reading.back() == u'度';
    } else {
      x.liang = kLiangWords.find(At(at)) != u16string_view::npos;
      x.belowZero = At(at) == u'度';
    }
    return x;
  }

  void PutSuffix(const Suffix& x) {
    w_.Put(x.reading);
    i_ = x.end;
  }

  // A birth cohort (80后, 00后): digit by digit.
  bool Cohort(const Decimal& d) const {
    return d.integer.size() == 2 && d.fraction.empty() && !d.grouped &&
           At(i_) == u'后';
  }

  // A year of two digits before a month (98年3月, 08年): digit by digit.
  bool ShortYear(const Decimal& d) const {
    if (d.integer.size() != 2 || At(i_) != u'年' || !d.fraction.empty())
      return false;
    if (d.integer[0] == u'0') return true;
    std::size_t k = i_ + 1;
    while (IsDigit(At(k))) ++k;
    return k > i_ + 1 && k - i_ <= 3 && At(k) == u'月';
  }

  bool Single(Decimal d, std::size_t start, char16_t sign,
              const Currency* currency, bool ordinal) {
    // 100.00元: no fraction to read in an amount of money.
    if ((currency || At(i_) == u'元') &&
        d.fraction.find_first_not_of(u'0') == u16string_view::npos)
      d.fraction = {};
    const bool code = !sign && !currency && d.fraction.empty() && !d.grouped &&
                      d.integer.size() >= 3 &&
                      (AfterCodeWord(s_, start) ||
                       (d.integer[0] == u'0' &&
                        kFieldWords.find(At(i_)) == u16string_view::npos));
    if (code) {
      PutDigitNames(d.integer, w_);
      return true;
    }
    if (!sign && !currency && d.fraction.empty() && !d.grouped &&
        d.integer.size() == 2 && d.integer[0] == u'0' &&
        kFieldWords.find(At(i_)) == u16string_view::npos) {
      PutDigitNames(d.integer, w_);  // 07, 00: a code or a score
      return true;
    }
    const Suffix suffix = SuffixAt(i_, start);
    const bool year = !sign && !currency &&
                      ((At(i_) == u'年' && ValidDate(d.integer, u"1", u"1") &&
                        d.fraction.empty()) ||
                       ShortYear(d) || Cohort(d));
    const Context context = year ? Context::kYear
                            : (suffix.liang && !ordinal && !sign)
                                ? Context::kTwoAsLiang
                                : Context::kPlain;
    if (currency) {
      PutSign(sign, false);
      PutDecimal(d, context, w_);
      w_.Put(currency->reading);
      return true;
    }
    if (!sign && suffix.prefix.empty() && suffix.reading.empty() &&
        context == Context::kPlain && d.fraction.empty() && !d.grouped &&
        d.integer.size() <= 10 && !EngineMisreadsTwo(d.integer)) {
      return false;  // a plain integer: the engine reads it as it is
    }
    PutSign(sign, suffix.belowZero);
    w_.Put(suffix.prefix);
    PutDecimal(d, context, w_);
    PutSuffix(suffix);
    return true;
  }

  using Parts = std::vector<u16string_view>;

  // h:mm or h:mm:ss on a 24-hour clock.
  static bool IsClock(const Parts& p) {
    if (p.size() < 2 || p.size() > 3) return false;
    const int hour = ValueOf(p[0]), minute = ValueOf(p[1]);
    return p[0].size() <= 2 && p[1].size() == 2 &&
           (hour < 24 || (hour == 24 && minute == 0)) && minute < 60 &&
           (p.size() == 2 || (p[2].size() == 2 && ValueOf(p[2]) < 60));
  }

  // 9点零5分, 8点零分30秒, 两点.
  void PutClock(const Parts& p) {
    const int hour = ValueOf(p[0]), minute = ValueOf(p[1]);
    if (hour == 2)
      w_.Put(u'两');
    else
      w_.Put(StripZeros(p[0]));
    w_.Put(u'点');
    if (minute != 0 || p.size() == 3) {
      if (minute < 10) w_.Put(u'零');
      if (minute != 0) w_.Put(StripZeros(p[1]));
      w_.Put(u'分');
    }
    if (p.size() == 3) {
      const int second = ValueOf(p[2]);
      if (second < 10) w_.Put(u'零');
      if (second != 0) w_.Put(StripZeros(p[2]));
      w_.Put(u'秒');
    }
  }

  // 上午 or 下午 for an am/pm after the time, which it consumes.
  void PutHalfDay() {
    if (const auto halfDay = HalfDayAt(i_)) {
      w_.Put(halfDay->first);
      i_ = halfDay->second;
    }
  }

  bool Time(const Token& t) {
    if (!IsClock(t.parts)) {
      // 3:2, 16:9: a score or a ratio when it cannot be a time.
      const u16string_view a = t.parts[0];
      const u16string_view b = t.parts.back();
      if (t.parts.size() != 2 || a[0] == u'0' || b[0] == u'0') return false;
      w_.Put(a);
      w_.Put(u'比');
      w_.Put(b);
      return true;
    }
    PutHalfDay();
    PutClock(t.parts);
    return true;
  }

  // 9:00-18:00, 9:00~9:30.
  bool TimeRange(const Token& t, std::size_t rangeAt) {
    const Parts from(t.parts.begin(),
                     t.parts.begin() + std::ptrdiff_t(rangeAt));
    const Parts to(t.parts.begin() + std::ptrdiff_t(rangeAt), t.parts.end());
    for (std::size_t k = 0; k + 1 < t.parts.size(); ++k) {
      if (k + 1 != rangeAt && t.marks[k] != u':') return false;
    }
    if (!IsClock(from) || !IsClock(to)) return false;
    PutHalfDay();
    PutClock(from);
    w_.Put(u'到');
    PutClock(to);
    return true;
  }

  u16string_view s_;
  const PrepOptions& options_;
  Writer w_;
  std::size_t i_ = 0;
};

}  // namespace

std::u16string PrepareText(std::u16string_view text,
                           const PrepOptions& options) {
  const u16string normalized = Normalize(text);
  return Preparer(normalized, options).Run();
}

}  // namespace vesk::textprep
