# The two commands a newcomer needs: `make run` and `make test`; `make install` puts Vantrel
# on the system (PREFIX, default /usr/local; DESTDIR for staging).
BUILD      ?= build
PREFIX     ?= /usr/local
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
# CI builds with WERROR=ON: a new warning fails the run.
WERROR     ?= OFF
# The test programs whose threaded cases run under ThreadSanitizer (labelled tsan).
TSAN_TARGETS = effects_tests compose_tests

.PHONY: all deps build run install test test-fast test-asan test-tsan format format-check clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# Quiet: one line, then the build's errors if any (and its progress on a terminal).
run:
	@echo "Building Vantrel in $(BUILD)/ and starting it"
	@scripts/install-deps.sh
	@scripts/quiet-build.sh $(BUILD) $(JOBS)
	@$(BUILD)/Vantrel

install: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# Every test, in the normal build and again under AddressSanitizer + UBSan; the threaded ones
# (effects thread pool, decoding threads, decoding ahead) also under ThreadSanitizer.
test: test-fast test-asan test-tsan

test-fast: build
	@ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE no-sanitize

test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(TSAN_TARGETS)
	@ctest --test-dir $(TSAN_BUILD) --output-on-failure -j$(JOBS) -L tsan

# The house style (.clang-format): `make format` applies it to every C and C++ file in git,
# `make format-check` fails on the first file that differs.
FORMAT_FILES = git ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp'

format: deps
	@$(FORMAT_FILES) | xargs -0 clang-format -i

format-check: deps
	@$(FORMAT_FILES) | xargs -0 clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
