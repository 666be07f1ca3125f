#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace vesk::fuzz {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

MemoryFile::MemoryFile() {
  fd_ = ::memfd_create("vesk-fuzz", 0);
  Require(fd_ >= 0, "memfd_create");
  const std::string path = "/proc/self/fd/" + std::to_string(fd_);
  path_.assign(path.begin(), path.end());
}

MemoryFile::~MemoryFile() { ::close(fd_); }

void MemoryFile::Write(const uint8_t* data, std::size_t size) {
  Require(::ftruncate(fd_, 0) == 0, "ftruncate");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, data + done, size - done, off_t(done));
    Require(n > 0, "pwrite");
    done += std::size_t(n);
  }
}

void MemoryFile::Write(std::string_view bytes) {
  Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::u16string BytesToUtf16(const uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

std::string_view SmallCharDictionary() {
  return "# digits and number words\n"
         "零: líng\n一: yī\n二: èr\n三: sān\n四: sì\n五: wǔ\n六: liù\n"
         "七: qī\n八: bā\n九: jiǔ\n十: shí\n百: bǎi\n千: qiān\n万: wàn\n"
         "亿: yì\n两: liǎng\n"
         "U+4E0D: bù  # bu\n"
         "中: zhōng,zhòng\n国: guó\n人: rén\n我: wǒ\n你: nǐ\n好: hǎo\n"
         "很: hěn\n是: shì\n的: de,dí,dì\n了: le,liǎo\n们: men\n天: tiān\n"
         "气: qì\n说: shuō\n话: huà\n语: yǔ\n音: yīn\n绿: lǜ\n女: nǚ\n"
         "嗯: ńg\n呣: m̀\n水: shuǐ\n果: guǒ\n老: lǎo\n虎: hǔ\n"
         "u+5B57:zì\n";
}

std::string_view SmallPhraseDictionary() {
  return "中国: zhōng guó\n中国人: zhōng guó rén\n我们: wǒ men\n"
         "说话: shuō huà\n水果: shuǐ guǒ\n老虎: lǎo hǔ\n不是: bú shì\n"
         "一天: yì tiān\n天气很好: tiān qì hěn hǎo\n";
}

}  // namespace vesk::fuzz
