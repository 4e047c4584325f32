# Set-up and everyday commands. `make test` and `make run` work on a fresh
# Debian 12 machine: both install what is missing first.

BUILD_DIR   ?= build
TSAN_DIR    ?= build-tsan
ASAN_DIR    ?= build-asan
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_DIR    ?= build-fuzz
SECONDS     ?= 60
PREFIX      ?= /opt/varnholt

.PHONY: all deps configure build test test-tsan test-asan bench run screenshot soak test-asan-faults clean install

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The concurrency tests (pool, queues, counters, threads, log) under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_TSAN=ON -DVARNHOLT_BENCH=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir $(TSAN_DIR) -L concurrency --output-on-failure

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_ASAN=ON -DVARNHOLT_BENCH=OFF
	cmake --build $(ASAN_DIR) -j $(JOBS)
	LSAN_OPTIONS="suppressions=$(CURDIR)/tests/lsan-suppressions.txt" ctest --test-dir $(ASAN_DIR) --output-on-failure

# The libFuzzer targets of fuzz/ (clang 14, installed when missing), each run
# for $(SECONDS) seconds on a copy of its corpus; fails when one crashes.
.PHONY: fuzz
fuzz:
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(SECONDS) $(JOBS)

# The fault tests (DataServer kills, a full log disk, hostile peers, the
# outbound link) under AddressSanitizer: CI runs these after `make test`.
ASAN_FAULT_TARGETS = VarnholtServerd varnsim varnholtctl test_dataserver_faults test_serverclient test_hostile_peers_e2e
ASAN_FAULT_TESTS   = test_dataserver_faults|test_serverclient|test_hostile_peers_e2e
test-asan-faults: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_ASAN=ON -DVARNHOLT_BENCH=OFF
	cmake --build $(ASAN_DIR) -j $(JOBS) --target $(ASAN_FAULT_TARGETS)
	LSAN_OPTIONS="suppressions=$(CURDIR)/tests/lsan-suppressions.txt" ctest --test-dir $(ASAN_DIR) -R '$(ASAN_FAULT_TESTS)' --output-on-failure

# The programs, modules, sample runtime folder, systemd unit, system account
# and logrotate stanza under $(PREFIX); DESTDIR=/some/root stages the tree.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix $(PREFIX)

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do echo "== $$b"; $$b; done

# The gateway with the bundled DataServer simulator, in $(BUILD_DIR)/run.
run: build
	@bash scripts/run-gateway.sh $(BUILD_DIR)

# The long fault loops (20 DataServer kills, churn, fuzzing) with a summary table.
soak: build
	@bash scripts/soak.sh $(BUILD_DIR)

# The desktop window under Xvfb with simulated traffic; PNGs in $(BUILD_DIR)/screenshots.
screenshot: build
	@bash scripts/screenshot.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(TSAN_DIR) $(ASAN_DIR)
