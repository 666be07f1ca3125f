# Entry points. `make demo` and `make test` work from a fresh clone: each
# installs what is missing first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD := build

.PHONY: all deps build data demo test asan tsan bench windows test-windows dist fuzz format clean

all: build

deps:
	@scripts/setup.sh

# The one configure step of build/; targets that need only part of it build
# their targets with $(BUILD_TARGETS).
CONFIGURE := cmake --preset default
BUILD_TARGETS := env -u MAKEFLAGS -u MAKELEVEL cmake --build --preset default -j $(JOBS) --target

build: deps
	@$(CONFIGURE) >/dev/null
	@cmake --build --preset default -j $(JOBS)

test: build
	@ctest --preset default

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-win32 build-win64 out

-include mk/*.mk
