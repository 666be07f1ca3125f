# Installation and the Debian package.
#   make install [PREFIX=/usr/local] [DESTDIR=/staging]
#       the engine directory (library, dictionaries, default voice), the
#       tools, the Speech Dispatcher module, documentation and manual pages
#   make install-speechd [DESTDIR=/staging]
#       the same under the prefix speech-dispatcher itself was installed
#       with (pkg-config speech-dispatcher: /usr on Debian), where its server
#       looks for modules and their configuration
#   make deb        out/vesk_<version>_<arch>.deb, built with CPack (prefix /usr)
#   make deb-check  lists the package and installs and removes it in a
#                   throwaway dpkg root
# Installing copies what build/ holds: it never reconfigures build/ for the
# prefix, so nothing built is built again. Every tool finds the engine
# relative to itself, which holds under any prefix.
PREFIX ?= /usr/local
DEB_BUILD := build-deb

SPEECHD_PREFIX = $(shell pkg-config --variable=prefix speech-dispatcher 2>/dev/null)

.PHONY: install install-speechd deb deb-check

# The data first: dictionaries and the default voice are generated. The
# build only builds what is missing or out of date.
install: voice
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build --preset default -j $(JOBS)
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX) --strip

install-speechd:
	@if [ -z "$(SPEECHD_PREFIX)" ]; then \
	  echo "install-speechd: pkg-config knows no speech-dispatcher;" \
	       "install libspeechd-dev (scripts/setup.sh does) or use" \
	       "make install PREFIX=..." >&2; exit 1; fi
	@$(MAKE) --no-print-directory install PREFIX=$(SPEECHD_PREFIX)

# A build of its own, configured for /usr, beside the engine data of $(BUILD).
deb: voice
	@cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_INSTALL_PREFIX=/usr -DVESK_BUILD_TESTS=OFF \
	  -DVESK_ENGINE_DIR=$(abspath $(DEB_BUILD))/engine >/dev/null
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build $(DEB_BUILD) -j $(JOBS)
	@cp $(BUILD)/engine/pinyin.txt $(BUILD)/engine/phrases.txt \
	  $(BUILD)/engine/*.vl $(DEB_BUILD)/engine/
	@cd $(DEB_BUILD) && cpack -G DEB >/dev/null
	@ls out/vesk_*.deb

deb-check: deb
	@scripts/check-deb.sh $$(ls -t out/vesk_*.deb | head -1)
