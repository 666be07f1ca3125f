# The default voice and the spoken demo.
#   make voice   build/engine/$(VOICE_NAME).vl from espeak-ng's Mandarin voice
#   make demo    speaks DEMO_TEXT into build/demo.wav with the built engine
VOICE_NAME ?= 电子男声
VOICE_ENGINE_DIR := $(BUILD)/engine
VOICE_FILE := $(VOICE_ENGINE_DIR)/$(VOICE_NAME).vl
VOICE_TOOLS := $(BUILD)/tools/vesk-voice
VOICE_DICTS := $(VOICE_ENGINE_DIR)/pinyin.txt $(VOICE_ENGINE_DIR)/phrases.txt
VESK_SAY := $(BUILD)/tools/vesk-say/vesk-say
DEMO_TEXT ?= 今天是2026年12月9日，气温-3度。我用NVDA读屏软件听新闻，价格是3.14元。
DEMO_WAV := $(BUILD)/demo.wav
DEMO_LOG := $(BUILD)/demo.log

.PHONY: voice voice-tools demo

# Only what the voice and the demo need: the engine and the tools.
voice-tools: deps
	@$(CONFIGURE) >/dev/null
	@$(BUILD_TARGETS) vesksynth vesk-voice vesk-voice-espeak vesk-say vesk-pinyin

voice: data voice-tools
	@$(MAKE) --no-print-directory '$(VOICE_FILE)'

$(VOICE_FILE): $(VOICE_DICTS) data/voice/build-default-voice.sh \
    $(VOICE_TOOLS)/vesk-voice $(VOICE_TOOLS)/vesk-voice-espeak
	@data/voice/build-default-voice.sh $(VOICE_TOOLS) $(VOICE_ENGINE_DIR) \
	  '$(VOICE_NAME)'

demo: voice
	@$(VESK_SAY) -o $(DEMO_WAV) '$(DEMO_TEXT)' 2>$(DEMO_LOG); \
	  status=$$?; cat $(DEMO_LOG); exit $$status
	@echo "demo: text     $(DEMO_TEXT)"
	@echo "demo: read as  $$(printf '%s\n' '$(DEMO_TEXT)' | $(VESK_PINYIN) --normalize)"
	@echo "demo: audio    $(abspath $(DEMO_WAV)) ($$(soxi -D $(DEMO_WAV)) s, $$(soxi -r $(DEMO_WAV)) Hz)"
	@sox $(DEMO_WAV) -n spectrogram -x 1200 -y 257 -o $(BUILD)/demo.png 2>/dev/null && \
	  echo "demo: picture  $(abspath $(BUILD)/demo.png)" || true
	@echo "demo: engine   $(abspath $(VOICE_ENGINE_DIR))"
	@echo "demo: listen with: play $(abspath $(DEMO_WAV))"
