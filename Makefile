# Orvinta: `make run` builds and launches the meter, `make test` builds and runs every test.
# Both first install the Debian packages listed in packaging/debian-packages.txt that are missing.

BUILD_DIR   ?= build
RELEASE_DIR := $(BUILD_DIR)/release
ASAN_DIR    := $(BUILD_DIR)/asan
TSAN_DIR    := $(BUILD_DIR)/tsan
# Warnings are errors in CI; on a developer's machine they stay warnings.
WERROR      ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS := -G Ninja -DORVINTA_WERROR=$(WERROR)

.PHONY: all deps build run test test-release test-asan test-tsan bench clean

all: build

deps:
	@./packaging/install-deps.sh

build: deps
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR)

run: build
	$(RELEASE_DIR)/app/orvinta

test: deps test-release test-asan test-tsan

test-release: build
	cd $(RELEASE_DIR) && ctest --output-on-failure

# The audio core again under AddressSanitizer + UndefinedBehaviorSanitizer (no Qt parts).
test-asan: deps
	cmake -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DORVINTA_SANITIZE=address -DORVINTA_WITH_QT=OFF -DORVINTA_BUILD_BENCH=OFF
	cmake --build $(ASAN_DIR)
	cd $(ASAN_DIR) && ctest --output-on-failure

# The capture, engine and file-scanner tests under ThreadSanitizer (no Qt parts: Debian's Qt is
# not instrumented).
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DORVINTA_SANITIZE=thread -DORVINTA_WITH_QT=OFF -DORVINTA_BUILD_BENCH=OFF
	cmake --build $(TSAN_DIR)
	cd $(TSAN_DIR) && ctest --output-on-failure -L 'capture|scan'

bench: build
	$(RELEASE_DIR)/bench/analyzer_bench

clean:
	rm -rf $(BUILD_DIR)
