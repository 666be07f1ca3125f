// Word readings decided by hand, where the merged lists cannot give the
// reading running text needs. Each list says where its words come from;
// none was taken from the gold (data/gold) or from the CPP sentences.
//
// A line is a word, or a word and its numbered reading (0 = neutral). A
// word without a reading is read as the builder reads it from its parts,
// except for the character the list is about.

// Words whose merged reading (CC-CEDICT, phrase-pinyin-data, jieba's
// readings in pinyin-pro's data) differs from the Modern Chinese
// Dictionary's. Found by listing every word the sources read differently
// in a full-tone syllable, jieba count at least 50 (451 words), and
// checking each by hand; these are the ones the merge got wrong. 放大率
// and 稳稳重重 came up among the words the selection keeps behind a shield
// (below in build-dictionaries.mjs), read by hand the same way. A word
// with the reading "-" is left out: 美的 is a company's name that, as a
// word, takes 美 and 的 wherever they meet (很美的 měi dí).
export const READING_FIXES = `
下载 xia4 zai4
上载 shang4 zai4
载入 zai4 ru4
甚么 shen2 me0
不了 bu4 liao3
罢了 ba4 le0
那末 na4 me0
监利 jian1 li4
重檐 chong2 yan2
蓦地 mo4 di4
忽地 hu1 di4
倏地 shu1 di4
拚命 pin1 ming4
一发 yi1 fa1
干干净净 gan1 gan1 jing4 jing4
泄露 xie4 lou4
妥当 tuo3 dang4
更深 geng4 shen1
松散 song1 san3
当天 dang4 tian1
当晚 dang4 wan3
当夜 dang4 ye4
大都 da4 dou1
连累 lian2 lei3
中式 zhong1 shi4
老区 lao3 qu1
放大率 fang4 da4 lv4
还款 huan2 kuan3
偏好 pian1 hao4
老大难 lao3 da4 nan2
九重 jiu3 chong2
上卷 shang4 juan4
高差 gao1 cha1
吱声 zi1 sheng1
懒洋洋 lan3 yang2 yang2
差事 chai1 shi4
佛罗里达 fo2 luo2 li3 da2
黑发 hei1 fa4
秀发 xiu4 fa4
短发 duan3 fa4
朝日 zhao1 ri4
送还 song4 huan2
总行 zong3 hang2
三相 san1 xiang4
纪传体 ji4 zhuan4 ti3
给付 ji3 fu4
刻划 ke4 hua4
装模作样 zhuang1 mu2 zuo4 yang4
那曲 na4 qu1
卡住 qia3 zhu4
空穴 kong1 xue2
杨振宁 yang2 zhen4 ning2
分拆 fen1 chai1
大行星 da4 xing2 xing1
降顺 xiang2 shun4
含含糊糊 han2 han2 hu1 hu1
武行 wu3 hang2
折辱 zhe2 ru3
吵吵闹闹 chao3 chao3 nao4 nao4
各有所长 ge4 you3 suo3 chang2
形相 xing2 xiang4
台长 tai2 zhang3
几米 ji3 mi3
卵泡 luan3 pao4
海陆空 hai3 lu4 kong1
曲曲折折 qu1 qu1 zhe2 zhe2
曲靖 qu1 jing4
灰蒙蒙 hui1 meng2 meng2
恁般 nen4 ban1
塞上 sai4 shang4
柚木 you2 mu4
为国为民 wei4 guo2 wei4 min2
李隆基 li3 long2 ji1
稳稳重重 wen3 wen3 zhong4 zhong4
美的 -
`;

// 为 wéi "to be, as" after the verbs and nouns it completes (设置为 "set
// to", 值为 "the value is"), and before the nouns of 以…为… ("taking … as":
// 以秒为单位). Counted where the longest match leaves 为 alone in the
// Chinese help of LibreOffice, GIMP and the Debian Edu manual (16,795
// sentences, the gold's sentences left out): the words before such a 为 seen
// three times or more, read by hand, and kept where 为 is "to be, as" in
// nearly every use (可以为, 必须为, 主要为 are both ways and left out);
// then, once those were words, every verb of jieba's (its tag v) seen
// before a 为 left alone there and in the Chinese documentation of KiCad
// and LilyPond (1,607 sentences more), read the same way (配置为, 保留为,
// 解析为; not 用于为, 需要为, 预览为: "for"); with the formal verbs of
// naming and ranking that encyclopedic text uses (被誉为, 评为, 改名为) and
// the nouns of the measures and names it gives (海拔为, 直径为, 全称为,
// 学名为), chosen by hand.
export const WEI_WORDS = `
设置为 设定为 设为 显示为 标记为 定义为 命名为 重命名为 转换为 转为 转变为 变为
化为 改为 更改为 修改为 替换为 保存为 另存为 导出为 输出为 重置为 恢复为 还原为
默认为 指定为 解释为 理解为 识别为 表示为 记为 写为 简称为 缩写为 译为 翻译为
合并为 拆分为 划分为 分为 舍入为 调整为 粘贴为 格式化为 初始化为 映射为 限制为
升级为 降为 沦为 列为 选为 评为 封为 尊为 誉为 被誉为 称为 改称为 更名为 改名为
值为 数值为 默认值为 返回值为 结果为 计算结果为 类型为 名称为 大小为 长度为 宽度为
高度为 数量为 数目为 个数为 总数为 次数为 面积为 人口为 单位为 参数为 概率为
利率为 年利率为 期限为 温度为 格式为 方向为 范围为 状态为 编号为 基数为 条件为
级别为 比例为 角度为 首府为 首都为 成本为 价格为 金额为 面额为 时间为 额为 价值为
存储为 切换为 表现为 标识为 扩展为 保持为 取整为 标题为 是否为 至少为 至多为 间隔为
首端为 尾端为 注册为 声明为 插入为 创建为 打印为 分隔为 绘制为 升值为 贬值为 底部为
顶部为 区域为 否则为 称其为 看作为 偏差为 透明度为 总额为 率为
配置为 描绘为 存档为 复制为 压缩为 添加为 保留为 安装为 输入为 解析为 简化为 确定为
假定为 分割为 处理为 组合为 认可为 辨认为 覆盖为 锁定为 约束为 考虑为
海拔为 直径为 半径为 周长为 总面积为 全长为 体积为 重量为 速度为 频率为 容量为 产量为
流量为 全称为 原名为 学名为 别名为 本名为 英文名为 总人口为 化学式为 分子式为 排名为
得分为 比分为 成绩为 主题为 口号为 校训为 市值为 营业额为
均为 皆为 即为 则为 亦为 乃为 约为 分别为 依次为 大多为 多为 全为
为单位 为例 为主 为准 为基础 为中心 为首 为界 为限 为宜 为佳 为零 为空 为真 为假
为正数 为负数 为止
`;

// 为 wèi "for" where it opens what it is for: the words that follow such a
// 为 in the same count, read by hand (为您 "for you"). They only matter if 为
// alone reads wéi; the selection drops those the engine reads right anyway.
export const WEI4_WORDS = `
为您 为每个 为每一 为其 为该 为此 为所选 为选定 为当前 为用户 为他们 为我们 为自己
为大家 为人民 为对象
`;

// 行 háng "line, row" as a unit of text (一行, 多行, 该行, 行首, 行尾, 空行,
// 每一行), from the same count: the words around a 行 the longest match
// leaves alone, nearly all of them rows of a table or lines of text; a
// second look with these words in, KiCad's and LilyPond's documentation
// added, gave 多个行, 双行, 各行, 重复行 and 行进行 (选中行进行排序, where the
// word 行进 took 行), each seen three times. With them, the words they would
// take 行 from when it is xíng (该行为 "this behaviour", 一行人 "the party").
export const HANG_WORDS = `
一行 多行 该行 此行 每行 每一行 整行 首行 末行 空行 新行 两行 三行 四行 几行 数行
这一行 那一行 哪一行 上一行 下一行 前一行 后一行 同一行 另一行 最后一行
第一行 第二行 第三行 第四行 第五行 第六行 第七行 第八行 第九行 第十行
当前行 标题行 数据行 所选行 空白行 奇数行 偶数行 文本行 代码行 输入行 汇总行
插入行 删除行 隐藏行 多个行 双行 各行 重复行
行进行 hang2 jin4 xing2
行首 行尾 行末 行高 行数 行距 行间距 行标题 行标签 行和列 行或列 行与列
该行为 gai1 xing2 wei2
此行为 ci3 xing2 wei2
新行为 xin1 xing2 wei2
一行人 yi1 xing2 ren2
双行道 shuang1 xing2 dao4
隐藏行为 yin3 cang2 xing2 wei2
`;

// Each entry of a list: [word, numbered syllables or null, or '-' to drop].
export function parseHandWords(text) {
  const out = [];
  for (const line of text.split('\n')) {
    const parts = line.trim().split(/\s+/).filter(Boolean);
    if (!parts.length) continue;
    const hasReading = parts.length > 1 && (parts[1] === '-' || /^[a-z:]+[0-5]$/.test(parts[1]));
    if (hasReading) out.push([parts[0], parts[1] === '-' ? '-' : parts.slice(1)]);
    else for (const w of parts) out.push([w, null]);
  }
  return out;
}
