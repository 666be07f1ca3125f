#include "vocabulary.h"

#include <array>

namespace vesk::textprep {

namespace {

constexpr u16string_view kCodeWords[] = {
    u"电话", u"手机", u"号码", u"热线", u"传真", u"邮编",   u"编号",
    u"账号", u"卡号", u"尾号", u"单号", u"证号", u"验证码", u"工号",
    u"学号", u"密码", u"代码", u"QQ",   u"Tel"};

constexpr u16string_view kScoreWords[] = {
    u"比分", u"比赛", u"战胜", u"击败", u"负于", u"战平",
    u"逆转", u"爆冷", u"大胜", u"小胜", u"惜败", u"完胜",
    u"险胜", u"赢了", u"输了", u"获胜", u"落后", u"领先"};

constexpr u16string_view kLiangWords =
    u"个位只条张本件次天年岁人名台辆种份层块家间把支双对座部篇首句周秒斤倍"
    u"杯碗瓶盒套节场所架头棵朵片颗粒封页遍趟回万亿千百点元角毛声步口门艘"
    u"枚根盘局轮项小分克米公";

constexpr u16string_view kFieldWords = u"年月日号时点分秒";

constexpr u16string_view kPerWords =
    u"斤两吨天月年日周时秒分人次件个台份张瓶盒箱袋包位间晚";

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

constexpr Currency kCurrencySigns[] = {
    {u"¥", u"元"}, {u"$", u"美元"}, {u"€", u"欧元"}, {u"£", u"英镑"}};

constexpr Currency kCurrencyCodes[] = {{u"CNY", u"元"},   {u"RMB", u"元"},
                                       {u"USD", u"美元"}, {u"EUR", u"欧元"},
                                       {u"HKD", u"港元"}, {u"JPY", u"日元"}};

constexpr std::array<std::pair<u16string_view, u16string_view>, 8> kHalfDays{
    {{u"a.m.", u"上午"},
     {u"p.m.", u"下午"},
     {u"A.M.", u"上午"},
     {u"P.M.", u"下午"},
     {u"am", u"上午"},
     {u"pm", u"下午"},
     {u"AM", u"上午"},
     {u"PM", u"下午"}}};

// Two-character signs first, so that <= is not read as < and =.
constexpr SymbolName kSymbols[] = {
    {u"<=", u"小于等于", true}, {u">=", u"大于等于", true},
    {u"!=", u"不等于", true},   {u"+", u"加", false},
    {u"×", u"乘", false},       {u"÷", u"除以", false},
    {u"=", u"等于", false},     {u"≈", u"约等于", false},
    {u"≠", u"不等于", false},   {u"≤", u"小于等于", false},
    {u"≥", u"大于等于", false}, {u"<", u"小于", true},
    {u">", u"大于", true},      {u"*", u"乘", true},
    {u"%", u"百分号", false},   {u"‰", u"千分号", false},
    {u"&", u"和", false},       {u"@", u"艾特", false},
    {u"#", u"井号", false},     {u"±", u"正负", false},
};

bool AfterAnyOf(u16string_view s, std::size_t at, const u16string_view* words,
                std::size_t count) {
  const std::size_t from = at > 8 ? at - 8 : 0;
  const u16string_view before = s.substr(from, at - from);
  for (std::size_t k = 0; k < count; ++k) {
    if (before.find(words[k]) != u16string_view::npos) return true;
  }
  return false;
}

}  // namespace

bool AfterCodeWord(u16string_view s, std::size_t at) {
  return AfterAnyOf(s, at, kCodeWords, std::size(kCodeWords));
}

bool AfterScoreWord(u16string_view s, std::size_t at) {
  return AfterAnyOf(s, at, kScoreWords, std::size(kScoreWords));
}

bool IsLiangWord(char16_t c) {
  return c != 0 && kLiangWords.find(c) != u16string_view::npos;
}
bool IsFieldWord(char16_t c) {
  return c != 0 && kFieldWords.find(c) != u16string_view::npos;
}
bool IsPerWord(char16_t c) {
  return c != 0 && kPerWords.find(c) != u16string_view::npos;
}

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

const Currency* CurrencySign(char16_t c) {
  for (const Currency& currency : kCurrencySigns) {
    if (currency.written[0] == c) return &currency;
  }
  return nullptr;
}

const Currency* CurrencyCodeAt(u16string_view s, std::size_t at) {
  for (const Currency& currency : kCurrencyCodes) {
    const std::size_t end = at + currency.written.size();
    if (StartsWith(s, at, currency.written) &&
        !(end < s.size() && IsLetter(s[end])) &&
        !(at > 0 && IsLetter(s[at - 1])))
      return &currency;
  }
  return nullptr;
}

std::optional<std::pair<u16string_view, std::size_t>> HalfDayAt(
    u16string_view s, std::size_t at) {
  if (at < s.size() && s[at] == u' ') ++at;
  for (const auto& [written, reading] : kHalfDays) {
    const std::size_t end = at + written.size();
    if (StartsWith(s, at, written) && !(end < s.size() && IsLetter(s[end])))
      return std::pair{reading, end};
  }
  return std::nullopt;
}

const SymbolName* SymbolAt(u16string_view s, std::size_t at, bool digitBefore) {
  for (const SymbolName& symbol : kSymbols) {
    if (!StartsWith(s, at, symbol.written)) continue;
    std::size_t next = at + symbol.written.size();
    while (next < s.size() && IsSpace(s[next])) ++next;
    const bool digitAfter = next < s.size() && IsDigit(s[next]);
    if (!symbol.betweenNumbers || (digitBefore && digitAfter)) return &symbol;
  }
  return nullptr;
}

}  // namespace vesk::textprep
