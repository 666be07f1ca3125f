# The Windows setup program, made with NSIS (Debian's nsis, installed by the
# Windows group of scripts/setup.sh) from dist/installer.nsi.
#   make installer      out/vesk-<version>-setup.exe: both engines with their
#                       SAPI 5 DLLs, dictionaries and voices, registered as
#                       SAPI 5 voices when installed
#
# The files are staged in out/stage/setup/ as the installer lays them out
# (x86\, x64\ and the texts beside them); the tests under Wine compare the
# installed files with that stage. WIN_SAPI_X86 and WIN_SAPI_X64 name the
# SAPI DLLs to package, by default the ones `make windows` builds.
WIN_SAPI_X86 ?= build-win32/engine/x86/VeskSapi.dll
WIN_SAPI_X64 ?= build-win64/engine/x64/VeskSapi.dll
INSTALLER = out/vesk-$(WIN_VERSION)-setup.exe
INSTALLER_STAGE = out/stage/setup

.PHONY: installer installer-only

installer: windows data voice
	@$(MAKE) --no-print-directory installer-only

# Without rebuilding the DLLs or the data.
installer-only:
	@set -e; stage=$(INSTALLER_STAGE); \
	for dll in build-win32/engine/x86/VeskSynth.dll build-win64/engine/x64/VeskSynth.dll \
	  $(WIN_SAPI_X86) $(WIN_SAPI_X64); do \
	  [ -f $$dll ] || { echo "installer: $$dll is missing (make windows builds it)" >&2; exit 1; }; \
	done; \
	rm -rf $$stage; mkdir -p $$stage; \
	for pair in x86:build-win32:i686:$(WIN_SAPI_X86) x64:build-win64:x86_64:$(WIN_SAPI_X64); do \
	  arch=$${pair%%:*}; rest=$${pair#*:}; build=$${rest%%:*}; rest=$${rest#*:}; \
	  triplet=$${rest%%:*}; sapi=$${rest#*:}; \
	  mkdir -p $$stage/$$arch; \
	  $$triplet-w64-mingw32-strip -o $$stage/$$arch/VeskSynth.dll $$build/engine/$$arch/VeskSynth.dll; \
	  $$triplet-w64-mingw32-strip -o $$stage/$$arch/VeskSapi.dll $$sapi; \
	  cp $(WIN_DIST_DATA) $$stage/$$arch/; \
	done; \
	for f in data/DATA-NOTICE.txt:DATA-NOTICE.txt LICENSE:LICENSE.txt; do sed 's/$$/\r/' $${f%%:*} > $$stage/$${f#*:}; done; \
	sed -e "s/@VERSION@/$(WIN_VERSION)/g" -e "s/@VOICES@/$(WIN_DIST_VOICES)/g" dist/README-setup.txt | \
	  sed 's/$$/\r/' > $$stage/README.txt; \
	cp dist/copyright $$stage/copyright; \
	{ echo '; The files of x86\ and x64\, written by mk/installer.mk.'; \
	  echo '!macro VeskForEachArchFile MACRO ARCH'; \
	  for f in VeskSynth.dll VeskSapi.dll pinyin.txt phrases.txt; do echo "  !insertmacro \$${MACRO} \$${ARCH} \"$$f\""; done; \
	  (cd $$stage/x86 && ls *.vl) | while read -r f; do echo "  !insertmacro \$${MACRO} \$${ARCH} \"$$f\""; done; \
	  echo '!macroend'; \
	  echo '!macro VeskForEachVoice MACRO ARCH'; \
	  (cd $$stage/x86 && ls *.vl) | while read -r f; do echo "  !insertmacro \$${MACRO} \$${ARCH} \"$${f%.vl}\""; done; \
	  echo '!macroend'; \
	} > $$stage/files.nsh; \
	mkdir -p out; \
	LC_ALL=C.UTF-8 makensis -V2 -INPUTCHARSET UTF8 -DVESK_VERSION=$(WIN_VERSION) \
	  -DVESK_STAGE=$(abspath $(INSTALLER_STAGE)) -DVESK_OUTFILE=$(abspath $(INSTALLER)) \
	  dist/installer.nsi; \
	echo "installer: $(INSTALLER)"
