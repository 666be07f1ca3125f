# Fuzzing: a separate clang build with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, then every target for FUZZ_SECONDS.
FUZZ_SECONDS ?= 30
FUZZ_JOBS ?= 2
FUZZ_BUILD := build-fuzz

.PHONY: fuzz fuzz-build

fuzz-build: deps
	@scripts/setup.sh fuzz
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVESK_BUILD_FUZZ=ON -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_TOOLS=OFF \
	  >/dev/null
	@cmake --build $(FUZZ_BUILD) --target vesk_fuzzers -j $(JOBS)

fuzz: fuzz-build
	@FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_JOBS=$(FUZZ_JOBS) fuzz/run.sh $(FUZZ_BUILD)
