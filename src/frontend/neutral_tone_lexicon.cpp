#include "frontend/neutral_tone_lexicon.h"

#include <string_view>

namespace vesk {

namespace {

struct BuiltInWord {
  std::u16string_view word;
  std::string_view first;
  int32_t firstTone;
  std::string_view second;
  int32_t secondTone;
};

// Common words whose second syllable is spoken in the neutral tone.
constexpr BuiltInWord kBuiltInWords[] = {
    {u"妈妈", "ma", 1, "ma", 0},      {u"爸爸", "ba", 4, "ba", 0},
    {u"哥哥", "ge", 1, "ge", 0},      {u"姐姐", "jie", 3, "jie", 0},
    {u"弟弟", "di", 4, "di", 0},      {u"妹妹", "mei", 4, "mei", 0},
    {u"爷爷", "ye", 2, "ye", 0},      {u"奶奶", "nai", 3, "nai", 0},
    {u"叔叔", "shu", 1, "shu", 0},    {u"舅舅", "jiu", 4, "jiu", 0},
    {u"我们", "wo", 3, "men", 0},     {u"你们", "ni", 3, "men", 0},
    {u"他们", "ta", 1, "men", 0},     {u"她们", "ta", 1, "men", 0},
    {u"咱们", "zan", 2, "men", 0},    {u"朋友", "peng", 2, "you", 0},
    {u"先生", "xian", 1, "sheng", 0}, {u"学生", "xue", 2, "sheng", 0},
    {u"师傅", "shi", 1, "fu", 0},     {u"大夫", "dai", 4, "fu", 0},
    {u"脑袋", "nao", 3, "dai", 0},    {u"头发", "tou", 2, "fa", 0},
    {u"眼睛", "yan", 3, "jing", 0},   {u"鼻子", "bi", 2, "zi", 0},
    {u"耳朵", "er", 3, "duo", 0},     {u"嘴巴", "zui", 3, "ba", 0},
    {u"舌头", "she", 2, "tou", 0},    {u"脖子", "bo", 2, "zi", 0},
    {u"嗓子", "sang", 3, "zi", 0},    {u"胳膊", "ge", 1, "bo", 0},
    {u"拳头", "quan", 2, "tou", 0},   {u"指甲", "zhi", 3, "jia", 0},
    {u"东西", "dong", 1, "xi", 0},    {u"衣服", "yi", 1, "fu", 0},
    {u"衣裳", "yi", 1, "shang", 0},   {u"裤子", "ku", 4, "zi", 0},
    {u"鞋子", "xie", 2, "zi", 0},     {u"袜子", "wa", 4, "zi", 0},
    {u"帽子", "mao", 4, "zi", 0},     {u"被子", "bei", 4, "zi", 0},
    {u"枕头", "zhen", 3, "tou", 0},   {u"钥匙", "yao", 4, "shi", 0},
    {u"窗户", "chuang", 1, "hu", 0},  {u"玻璃", "bo", 1, "li", 0},
    {u"桌子", "zhuo", 1, "zi", 0},    {u"椅子", "yi", 3, "zi", 0},
    {u"柜子", "gui", 4, "zi", 0},     {u"抽屉", "chou", 1, "ti", 0},
    {u"箱子", "xiang", 1, "zi", 0},   {u"镜子", "jing", 4, "zi", 0},
    {u"房子", "fang", 2, "zi", 0},    {u"院子", "yuan", 4, "zi", 0},
    {u"垃圾", "la", 1, "ji", 0},      {u"豆腐", "dou", 4, "fu", 0},
    {u"点心", "dian", 3, "xin", 0},   {u"馒头", "man", 2, "tou", 0},
    {u"包子", "bao", 1, "zi", 0},     {u"饺子", "jiao", 3, "zi", 0},
    {u"萝卜", "luo", 2, "bo", 0},     {u"西瓜", "xi", 1, "gua", 0},
    {u"黄瓜", "huang", 2, "gua", 0},  {u"漂亮", "piao", 4, "liang", 0},
    {u"聪明", "cong", 1, "ming", 0},  {u"糊涂", "hu", 2, "tu", 0},
    {u"清楚", "qing", 1, "chu", 0},   {u"凉快", "liang", 2, "kuai", 0},
    {u"暖和", "nuan", 3, "huo", 0},   {u"舒服", "shu", 1, "fu", 0},
    {u"热闹", "re", 4, "nao", 0},     {u"厉害", "li", 4, "hai", 0},
    {u"便宜", "pian", 2, "yi", 0},    {u"客气", "ke", 4, "qi", 0},
    {u"老实", "lao", 3, "shi", 0},    {u"痛快", "tong", 4, "kuai", 0},
    {u"告诉", "gao", 4, "su", 0},     {u"知道", "zhi", 1, "dao", 0},
    {u"认识", "ren", 4, "shi", 0},    {u"商量", "shang", 1, "liang", 0},
    {u"招呼", "zhao", 1, "hu", 0},    {u"收拾", "shou", 1, "shi", 0},
    {u"休息", "xiu", 1, "xi", 0},     {u"喜欢", "xi", 3, "huan", 0},
    {u"愿意", "yuan", 4, "yi", 0},    {u"怎么", "zen", 3, "me", 0},
    {u"什么", "shen", 2, "me", 0},    {u"多么", "duo", 1, "me", 0},
    {u"那么", "na", 4, "me", 0},      {u"这么", "zhe", 4, "me", 0},
    {u"时候", "shi", 2, "hou", 0},    {u"早上", "zao", 3, "shang", 0},
    {u"晚上", "wan", 3, "shang", 0},  {u"上来", "shang", 4, "lai", 0},
    {u"下来", "xia", 4, "lai", 0},    {u"进来", "jin", 4, "lai", 0},
    {u"出来", "chu", 1, "lai", 0},    {u"回来", "hui", 2, "lai", 0},
    {u"过来", "guo", 4, "lai", 0},    {u"起来", "qi", 3, "lai", 0},
    {u"上去", "shang", 4, "qu", 0},   {u"下去", "xia", 4, "qu", 0},
    {u"进去", "jin", 4, "qu", 0},     {u"出去", "chu", 1, "qu", 0},
    {u"回去", "hui", 2, "qu", 0},     {u"过去", "guo", 4, "qu", 0},
};

NeutralToneMap BuildNeutralToneLexicon() {
  NeutralToneMap words;
  for (const BuiltInWord& entry : kBuiltInWords) {
    words[std::u16string(entry.word)] = {
        Syllable{std::string(entry.first), entry.firstTone},
        Syllable{std::string(entry.second), entry.secondTone}};
  }
  return words;
}

}  // namespace

const NeutralToneMap& NeutralToneLexicon() {
  static const NeutralToneMap words = BuildNeutralToneLexicon();
  return words;
}

}  // namespace vesk
