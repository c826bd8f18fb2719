# The two commands of the README: `make test` and `make run`.
# Both first make sure the Debian packages the build needs are present.

BUILD_DIR ?= build
PRESET    ?= test
PACKAGES  := cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev zlib1g-dev libcurl4-openssl-dev
BENCH_PACKAGES := libbenchmark-dev libsqlite3-dev
JOBS      ?= $(shell nproc)

.PHONY: test run setup configure build bench clean

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

clean:
	rm -rf $(BUILD_DIR)
