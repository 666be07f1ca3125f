# Windows DLLs for 32-bit and 64-bit x86, cross-built with mingw-w64 from the
# same sources, tested under Wine, and packaged for people who install them.
#   make windows        build-win32/engine/x86/VeskSynth.dll and
#                       build-win64/engine/x64/VeskSynth.dll, with the text
#                       preparation, the host kit and the Windows test
#                       programs
#   make test-windows   export and import checks, then the tests under Wine,
#                       also of each DLL installed beside the real data, and
#                       the setup program (mk/installer.mk) installed and
#                       uninstalled
#   make dist           out/vesk-<version>-windows-{x86,x64}.zip
WIN_VERSION := $(shell sed -n 's/^project.vesk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WIN_SONIC_DIR = $(shell scripts/fetch-sonic-source.sh)
WIN_BUILD_TYPE ?= RelWithDebInfo
WIN_JOBS ?= 2

.PHONY: windows-deps windows-x86 windows-x64 test-windows-only

windows-deps:
	@scripts/setup.sh windows

# What a Windows build makes: the engine, the text preparation and host kit
# its hosts link (tools/ lists the folders Windows has), the SAPI voice, the
# test programs.
WIN_TARGETS = vesksynth vesk_textprep vesk_host_kit vesksapi vesk_windows_tests \
  vesk_sapi_tests

# $(1): build directory, $(2): toolchain
define windows_build
	@cmake -S . -B $(1) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/$(2).cmake \
	  -DCMAKE_BUILD_TYPE=$(WIN_BUILD_TYPE) -DVESK_BUILD_TESTS=OFF \
	  -DVESK_BUILD_TOOLS=ON -DVESK_BUILD_WINDOWS_TESTS=ON \
	  -DVESK_SONIC_SOURCE_DIR=$(WIN_SONIC_DIR) >/dev/null
	@cmake --build $(1) -j $(WIN_JOBS) --target $(WIN_TARGETS)
endef

windows-x86: windows-deps
	$(call windows_build,build-win32,mingw-i686)

windows-x64: windows-deps
	$(call windows_build,build-win64,mingw-x86_64)

windows: windows-x86 windows-x64

# The data as well: each DLL is also tested as installed, beside the real
# dictionaries and the default voice; and the setup program.
WIN_TEST_ENV = VESK_TEST_ENGINE_DATA=$(BUILD)/engine \
  VESK_TEST_INSTALLER=$(abspath $(INSTALLER)) VESK_TEST_INSTALLER_STAGE=$(abspath $(INSTALLER_STAGE))

test-windows: windows data voice installer
	@$(WIN_TEST_ENV) tests/windows/run-tests.sh build-win32 build-win64

# Without rebuilding, for a quick second run.
test-windows-only:
	@$(WIN_TEST_ENV) tests/windows/run-tests.sh build-win32 build-win64

# One zip per architecture: a folder holding the DLL with its dictionaries and
# every voice built, as a host loads them, and a README for the installer.
WIN_DIST_DATA = $(BUILD)/engine/pinyin.txt $(BUILD)/engine/phrases.txt \
  $(BUILD)/engine/*.vl
WIN_DIST_VOICES = $(shell cd $(BUILD)/engine 2>/dev/null && ls *.vl | sed 's/\.vl$$//' | paste -sd, | sed 's/,/, /g')

dist: windows data voice
	@set -e; for pair in x86:build-win32:i686 x64:build-win64:x86_64; do \
	  arch=$${pair%%:*}; rest=$${pair#*:}; build=$${rest%%:*}; triplet=$${rest#*:}; \
	  name=vesk-$(WIN_VERSION)-windows-$$arch; stage=out/stage/$$name; \
	  rm -rf $$stage; mkdir -p $$stage; \
	  $$triplet-w64-mingw32-strip -o $$stage/VeskSynth.dll $$build/engine/$$arch/VeskSynth.dll; \
	  cp $(WIN_DIST_DATA) $$stage/; \
	  for f in data/DATA-NOTICE.txt:DATA-NOTICE.txt LICENSE:LICENSE.txt; do sed 's/$$/\r/' $${f%%:*} > $$stage/$${f#*:}; done; \
	  sed -e "s/@VERSION@/$(WIN_VERSION)/g" -e "s/@ARCH@/$$arch/g" \
	    -e "s/@VOICES@/$(WIN_DIST_VOICES)/g" dist/README.txt | sed 's/$$/\r/' > $$stage/README.txt; \
	  rm -f out/$$name.zip; scripts/zip-folder.py out/$$name.zip $$stage; \
	  echo "dist: out/$$name.zip"; \
	done
