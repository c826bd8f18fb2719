# The two commands of the README: `make test` and `make run`.
# Both first make sure the Debian packages the build needs are present.

BUILD_DIR ?= build
PRESET    ?= test
PACKAGES  := cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev zlib1g-dev libcurl4-openssl-dev xvfb xauth libsqlite3-dev
BENCH_PACKAGES := libbenchmark-dev libsqlite3-dev
JOBS      ?= $(shell nproc)

FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: test run setup configure build bench stress fuzz clean

setup:
	@sh tools/install-packages.sh $(PACKAGES)

configure: setup
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

run: build
	@sh tools/run-program.sh $(BUILD_DIR)/$(PRESET)

bench: setup
	@sh tools/install-packages.sh $(BENCH_PACKAGES)
	@cmake --preset release >/dev/null && cmake --build --preset release -j $(JOBS) && \
	  for b in $(BUILD_DIR)/release/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

# A long run of the multi-process stress test (engine/storage/tests/orqStressTest.cpp): writers
# killed at random and started again, readers checking under read locks, a fresh connection's
# check at the end; it prints transactions per second and time-outs by error code. Each of its
# runs (a plain and a weakly encrypted table) lasts STRESS_SECONDS.
STRESS_SECONDS ?= 120
STRESS_WRITERS ?= 6
STRESS_READERS ?= 4
STRESS_KILL_MS ?= 300

stress: configure
	@cmake --build --preset $(PRESET) --target ostra_storage_orqStressTest -j $(JOBS) && \
	  OSTRA_STRESS_SECONDS=$(STRESS_SECONDS) OSTRA_STRESS_WRITERS=$(STRESS_WRITERS) \
	  OSTRA_STRESS_READERS=$(STRESS_READERS) OSTRA_STRESS_KILL_MS=$(STRESS_KILL_MS) \
	  $(BUILD_DIR)/$(PRESET)/engine/storage/ostra_storage_orqStressTest

# The libFuzzer programs of fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
# build/fuzz/fuzz/fuzz_<target>. tools/fuzz-run.sh <target> [seconds] runs one over a copy of its
# seed corpus. Their seeds and the inputs that once failed replay in `make test`.
fuzz: setup
	@sh tools/install-packages.sh $(FUZZ_PACKAGES)
	@cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
