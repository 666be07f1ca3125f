# Benchmarks against peers: reports only, never part of the test suite.
#   make bench   Release build in build-bench/, the shipped dictionaries and
#                default voice (make data, make voice), then every figure and
#                ratio; the report also lands in bench/README.md.
.PHONY: bench bench-build

bench-build: deps
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)

bench: bench-build data voice
	@bench/run.sh build-bench
