# The voices and the spoken demo.
#   make voice   build/engine/$(VOICE_NAME).vl, the human voice, from the
#                syllable recordings in $(VESK_RECORDINGS) when they are
#                there, and build/engine/$(ESPEAK_VOICE_NAME).vl, the
#                espeak-ng voice, always; with both, the engine chooses the
#                human one first (voices come in name order)
#   make voice-report  copies the human voice's screening report and picture
#                into data/voice/ for the repository
#   make demo    speaks DEMO_TEXT into build/demo.wav with the built engine
VESK_RECORDINGS ?= $(wildcard ../shared/voice/audio-cmn-syllables)
VOICE_NAME ?= 王琛女声
ESPEAK_VOICE_NAME ?= 电子男声
VOICE_ENGINE_DIR := $(BUILD)/engine
VOICE_WORK := $(BUILD)/voice
HUMAN_VOICE_FILE := $(VOICE_ENGINE_DIR)/$(VOICE_NAME).vl
ESPEAK_VOICE_FILE := $(VOICE_ENGINE_DIR)/$(ESPEAK_VOICE_NAME).vl
VOICE_REPORT := $(VOICE_WORK)/$(VOICE_NAME)-report.tsv
VOICE_PICTURE := $(VOICE_WORK)/$(VOICE_NAME).png
VOICE_SUMMARY := $(VOICE_WORK)/$(VOICE_NAME)-summary.txt
VOICE_TOOLS := $(BUILD)/tools/vesk-voice
VOICE_DICTS := $(VOICE_ENGINE_DIR)/pinyin.txt $(VOICE_ENGINE_DIR)/phrases.txt
VOICE_BUILDER := $(wildcard data/voice/voicebuild/*.py data/voice/voicebuild/*.praat)
# Debian's Python, which has numpy, scipy and soundfile from setup.sh.
VOICE_PYTHON := /usr/bin/python3
VESK_SAY := $(BUILD)/tools/vesk-say/vesk-say
DEMO_TEXT ?= 今天是2026年12月9日，气温-3度。我用NVDA读屏软件听新闻，价格是3.14元。
DEMO_WAV := $(BUILD)/demo.wav
DEMO_LOG := $(BUILD)/demo.log
# Where the recordings are published, for the line printed without them.
RECORDINGS_SOURCE := the public repository hugolpz/audio-cmn, commit \
  ff9ed3d0c631195bd2c06f39450f3264c7124040, folder 64k/syllabs

.PHONY: voice voice-tools voice-report demo

# Only what the voices and the demo need: the engine and the tools.
voice-tools: deps
	@$(CONFIGURE) >/dev/null
	@$(BUILD_TARGETS) vesksynth vesk-voice vesk-voice-espeak vesk-say vesk-pinyin

ifneq ($(VESK_RECORDINGS),)
VOICE_FILES := $(HUMAN_VOICE_FILE) $(ESPEAK_VOICE_FILE)
else
VOICE_FILES := $(ESPEAK_VOICE_FILE)
endif

voice: data voice-tools
	@$(MAKE) --no-print-directory $(VOICE_FILES)
ifeq ($(VESK_RECORDINGS),)
	@rm -f '$(HUMAN_VOICE_FILE)'
	@echo "voice: no recordings, so only the espeak-ng voice: get the human voice's recordings from $(RECORDINGS_SOURCE) and pass VESK_RECORDINGS=DIR"
endif

$(ESPEAK_VOICE_FILE): $(VOICE_DICTS) data/voice/build-default-voice.sh $(VOICE_BUILDER) \
    $(VOICE_TOOLS)/vesk-voice $(VOICE_TOOLS)/vesk-voice-espeak
	@data/voice/build-default-voice.sh $(VOICE_TOOLS) $(VOICE_ENGINE_DIR) \
	  '$(ESPEAK_VOICE_NAME)'

$(HUMAN_VOICE_FILE): $(VOICE_DICTS) $(VOICE_BUILDER) $(VOICE_TOOLS)/vesk-voice \
    $(VOICE_TOOLS)/vesk-voice-espeak $(VESK_RECORDINGS)
	@cd data/voice && $(VOICE_PYTHON) -m voicebuild human \
	  --recordings '$(abspath $(VESK_RECORDINGS))' --tools '$(abspath $(VOICE_TOOLS))' \
	  --engine '$(abspath $(VOICE_ENGINE_DIR))' --name '$(VOICE_NAME)' \
	  $(foreach d,$(VOICE_DICTS),--dict '$(abspath $(d))') \
	  --report '$(abspath $(VOICE_REPORT))' --picture '$(abspath $(VOICE_PICTURE))' \
	  --summary '$(abspath $(VOICE_SUMMARY))'

voice-report: voice
	@cp '$(VOICE_REPORT)' data/voice/human-voice-report.tsv
	@cp '$(VOICE_PICTURE)' data/voice/human-voice.png
	@echo "voice-report: data/voice/human-voice-report.tsv, data/voice/human-voice.png"

demo: voice
	@$(VESK_SAY) -o $(DEMO_WAV) '$(DEMO_TEXT)' 2>$(DEMO_LOG); \
	  status=$$?; cat $(DEMO_LOG); exit $$status
	@echo "demo: text     $(DEMO_TEXT)"
	@echo "demo: read as  $$(printf '%s\n' '$(DEMO_TEXT)' | $(VESK_PINYIN) --normalize)"
	@echo "demo: voice    $$($(VESK_SAY) --list-voices 2>/dev/null | head -n 1 | tr '\t' ' ') (the first of $$($(VESK_SAY) --list-voices 2>/dev/null | wc -l))"
	@[ ! -f '$(VOICE_SUMMARY)' ] || [ ! -f '$(HUMAN_VOICE_FILE)' ] || sed 's/^/demo: /' '$(VOICE_SUMMARY)'
	@echo "demo: audio    $(abspath $(DEMO_WAV)) ($$(soxi -D $(DEMO_WAV)) s, $$(soxi -r $(DEMO_WAV)) Hz)"
	@sox $(DEMO_WAV) -n spectrogram -x 1200 -y 257 -o $(BUILD)/demo.png 2>/dev/null && \
	  echo "demo: spectrogram $(abspath $(BUILD)/demo.png)" || true
	@echo "demo: engine   $(abspath $(VOICE_ENGINE_DIR))"
	@echo "demo: listen with: play $(abspath $(DEMO_WAV))"
