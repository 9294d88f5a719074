# Orvinta: `make run` builds and launches the meter, `make test` builds and runs every test.
# Both first install the Debian packages listed in packaging/debian-packages.txt that are missing.

BUILD_DIR   ?= build
RELEASE_DIR := $(BUILD_DIR)/release
ASAN_DIR    := $(BUILD_DIR)/asan
TSAN_DIR    := $(BUILD_DIR)/tsan
FUZZ_DIR    := $(BUILD_DIR)/fuzz
FUZZ_TARGETS := audio_format_converter_fuzz loudness_analyzer_fuzz
# Warnings are errors in CI; on a developer's machine they stay warnings.
WERROR      ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS := -G Ninja -DORVINTA_WERROR=$(WERROR)
# Tests mostly wait on real time (sound servers, windows), so twice as many run side by side as
# there are cores.
JOBS        ?= $(shell echo $$(( $$(nproc) * 2 )))
# Sanitizer trees: light optimisation and line tables are enough for the reports, and build fast.
SANITIZER_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1"

.PHONY: all deps build run test test-release asan-build test-asan tsan-build test-tsan fuzz-build \
	test-fuzz fuzz bench clean

all: build

deps:
	@./packaging/install-deps.sh

build: deps
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR)

run: build
	$(RELEASE_DIR)/app/orvinta

# Every tree, one after the other, but each tree's tests run while the next tree builds: the tests
# mostly wait on sound servers and windows. Each step's output appears whole when it ends.
test: deps build
	CMAKE_BUILD_PARALLEL_LEVEL=$$(nproc) $(MAKE) --no-print-directory -j3 --output-sync=target PIPELINE=1 \
		test-release test-asan test-tsan test-fuzz

test-release: build
	cd $(RELEASE_DIR) && ctest --output-on-failure -j $(JOBS)

# The audio core again under AddressSanitizer + UndefinedBehaviorSanitizer (no Qt parts).
asan-build: deps
	cmake -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) $(SANITIZER_FLAGS) \
		-DORVINTA_SANITIZE=address -DORVINTA_WITH_QT=OFF -DORVINTA_BUILD_BENCH=OFF
	cmake --build $(ASAN_DIR)

test-asan: asan-build
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)

# The capture, engine and file-scanner tests under ThreadSanitizer (no Qt parts: Debian's Qt is
# not instrumented).
tsan-build: deps
	cmake -S . -B $(TSAN_DIR) $(CMAKE_FLAGS) $(SANITIZER_FLAGS) \
		-DORVINTA_SANITIZE=thread -DORVINTA_WITH_QT=OFF -DORVINTA_BUILD_BENCH=OFF
	cmake --build $(TSAN_DIR) --target tests-capture tests-scan

test-tsan: tsan-build
	cd $(TSAN_DIR) && ctest --output-on-failure -j $(JOBS) -L 'capture|scan'

# The libFuzzer targets (clang, ASan + UBSan, no Qt) in a tree of their own.
fuzz-build: deps
	cmake -S . -B $(FUZZ_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DORVINTA_FUZZ=ON
	cmake --build $(FUZZ_DIR)

# In `make test`, one tree builds at a time, and the fuzzers, which take every core, run last.
ifdef PIPELINE
test-release: | build
tsan-build: | asan-build
fuzz-build: | tsan-build
test-fuzz: | test-release test-asan test-tsan
endif

# Each target for FUZZ_SECONDS on the committed seed corpus, all targets at once. New inputs go to
# $(FUZZ_DIR)/corpus, crashes to $(FUZZ_DIR)/crash-*; the committed corpus is only read. The
# targets' own log lines (stdout) are dropped; libFuzzer reports on stderr, one log per target.
FUZZ_SECONDS ?= 20
test-fuzz: fuzz-build
	@pids=""; for target in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$target; \
		echo "$$target: $(FUZZ_SECONDS) s"; \
		$(FUZZ_DIR)/tests/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -timeout=30 \
			-rss_limit_mb=4096 -close_fd_mask=1 -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/ \
			$(FUZZ_DIR)/corpus/$$target tests/fuzz/corpus/$$target > $(FUZZ_DIR)/$$target.log 2>&1 & \
		pids="$$pids $$!"; \
	done; \
	status=0; set -- $$pids; for target in $(FUZZ_TARGETS); do \
		if wait $$1; then \
			echo "== $$target: passed"; tail -n 12 $(FUZZ_DIR)/$$target.log; \
		else \
			echo "== $$target: FAILED"; cat $(FUZZ_DIR)/$$target.log; status=1; \
		fi; \
		shift; \
	done; \
	exit $$status

fuzz:
	$(MAKE) test-fuzz FUZZ_SECONDS=300

bench: build
	$(RELEASE_DIR)/bench/analyzer_bench

clean:
	rm -rf $(BUILD_DIR)
