# Dictionaries: build/engine/pinyin.txt and phrases.txt, generated from the
# Unihan readings (Debian unicode-data), jieba's word counts (python3-jieba)
# and the npm word lists pinned in data/package-lock.json. Regenerated only
# when a script or source changes.
DATA_ENGINE_DIR := $(BUILD)/engine
DATA_DICTS := $(DATA_ENGINE_DIR)/pinyin.txt $(DATA_ENGINE_DIR)/phrases.txt
DATA_SCRIPTS := $(wildcard data/dict/*.mjs data/dict/lib/*.mjs data/dict/g2pm/*.tsv)
DATA_UNIHAN := $(firstword $(wildcard /usr/share/unicode/Unihan_Readings.txt \
  /usr/share/unicode/Unihan_Readings.txt.bz2))
DATA_JIEBA := $(wildcard /usr/lib/python3/dist-packages/jieba/dict.txt)
VESK_PINYIN := $(BUILD)/tools/vesk-pinyin/vesk-pinyin
COMPARE_REPORT := $(BUILD)/compare-pinyin.txt

.PHONY: data data-check compare-pinyin pinyin-tool

data: $(DATA_DICTS)
	@:

# The set-up runs first (order only: it never makes the files stale).
data/node_modules: data/package.json data/package-lock.json | deps
	@cd data && npm ci --no-audit --no-fund --loglevel=error
	@touch $@

$(DATA_DICTS) &: $(DATA_SCRIPTS) data/node_modules $(DATA_UNIHAN) $(DATA_JIEBA) | deps
	@node data/dict/build-dictionaries.mjs $(DATA_ENGINE_DIR)

pinyin-tool: deps
	@$(CONFIGURE) >/dev/null
	@$(BUILD_TARGETS) vesk-pinyin >/dev/null

# Every reading in the dictionaries, parsed by the engine itself, must have a
# unit index, and the hand-checked phrases (data/dict/checked-readings.tsv)
# must read as the table says.
data-check: data pinyin-tool
	@$(VESK_PINYIN) --check --dict-dir $(DATA_ENGINE_DIR)
	@node data/dict/check-readings.mjs --tool $(VESK_PINYIN) --dict-dir $(DATA_ENGINE_DIR)

# Accuracy on the adjudicated gold (data/gold) and on the CPP development
# split (../shared/cpp, when there), side by side with agreement with
# pinyin-pro over the Chinese manual
# pages (manpages-zh); disagreements by character go to $(COMPARE_REPORT).
compare-pinyin: data-check
	@node data/dict/compare-pinyin.mjs --tool $(VESK_PINYIN) \
	  --dict-dir $(DATA_ENGINE_DIR) --report $(COMPARE_REPORT)
