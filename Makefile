# The two entry points of the README: `make demo` and `make test`.
# Both install what is missing (scripts/install-deps.sh), configure and build.

BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps build demo test bench bench-ratios format

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/tools/qn/qn demo examples/bundle

# Every test: the formatting check, the warnings-as-errors build (with an
# application built against its install), then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and a short run of each fuzz target.
test: deps
	bash scripts/test.sh

bench: build
	$(BUILD)/bench/qn_bench --benchmark_min_time=0.2

# Each library benchmark beside its raw pair (bench/goals.tsv): one table of
# ratios, goals and verdicts; fails when a goal slipped.
bench-ratios: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) --target qn_bench -j $(JOBS)
	python3 scripts/bench_ratios.py $(BUILD)/bench/qn_bench

# The same files scripts/check-format.sh checks in `make test`.
format:
	@bash scripts/check-format.sh --fix
