# Installation and the Debian package.
#   make install [PREFIX=/usr/local] [DESTDIR=/staging]
#       the engine directory (library, dictionaries, default voice), the
#       tools, the Speech Dispatcher module, documentation and manual pages
#   make deb        out/vesk_<version>_<arch>.deb, built with CPack (prefix /usr)
#   make deb-check  lists the package and installs and removes it in a
#                   throwaway dpkg root
PREFIX ?= /usr/local
DEB_BUILD := build-deb

.PHONY: install deb deb-check

# The data first: dictionaries and the default voice are generated.
install: voice
	@$(CONFIGURE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build --preset default -j $(JOBS)
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD) --strip

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
