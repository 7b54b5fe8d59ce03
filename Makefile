# Everything starts here: `make run` and `make test` work on a fresh Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# ON turns every compiler warning into an error (CI does).
WERROR     ?= OFF

.PHONY: all deps configure build test asan tsan clang fuzz soak bench run format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

# Configured once; the warnings switch follows WERROR on every run.
configure: $(BUILD)/build.ninja
	@cmake -S . -B $(BUILD) -DORVO_WERROR=$(WERROR) > /dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=ON -DORVO_BUILD_BENCH=OFF $(CMAKE_ARGS)

asan: $(ASAN_BUILD)/build.ninja
	@cmake -S . -B $(ASAN_BUILD) -DORVO_WERROR=$(WERROR) > /dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	@# GCC 12's __tls_get_addr hook can take a plug-in's dynamic TLS block for an
	@# old glibc header and send the leak checker's tracer through a wild pointer
	@# at exit, now and then; without the hook it scans static TLS and stacks.
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

TSAN_BUILD ?= build-tsan
$(TSAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVO_TSAN=ON -DORVO_BUILD_BENCH=OFF $(CMAKE_ARGS)

# ThreadSanitizer over the suite (TSAN_TESTS, a CTest regex, picks some tests);
# scripts/tsan.supp holds the third-party false positives, never our own code;
# every program of that build carries them, so ctest alone reads them too.
TSAN_TESTS ?= .
tsan: $(TSAN_BUILD)/build.ninja
	@cmake -S . -B $(TSAN_BUILD) -DORVO_WERROR=$(WERROR) > /dev/null
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# The whole suite built with clang, warnings (lock annotations included) as errors.
CLANG_BUILD ?= build-clang
$(CLANG_BUILD)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(CLANG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORVO_WERROR=ON -DORVO_BUILD_BENCH=OFF $(CMAKE_ARGS)

clang: $(CLANG_BUILD)/build.ninja
	cmake --build $(CLANG_BUILD) -j $(JOBS)
	ctest --test-dir $(CLANG_BUILD) --output-on-failure -j $(JOBS)

# Every fuzz target under libFuzzer with ASan + UBSan, FUZZ_SECONDS each
# (FUZZ_TARGETS, a regular expression, picks some by name).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
$(FUZZ_BUILD)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORVO_FUZZ=ON -DORVO_WERROR=ON -DORVO_BUILD_BENCH=OFF $(CMAKE_ARGS)

fuzz: $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target orvo_fuzzers
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(JOBS)

# The host-validation suite, its runs lengthened SOAK times (ORVO_SOAK).
SOAK ?= 10
soak: build
	ORVO_SOAK=$(SOAK) $(BUILD)/tests/validation/validation_tests

bench: build
	$(BUILD)/bench/orvo_bench $(BENCH_ARGS)

# The app, laid out as an install inside the build tree ($(BUILD)/run), in a
# window with the sound card. Without a display it says so and runs headless.
# RUN_ARGS adds the app's own: --autoplay, --unit, --seconds N.
RUN_ARGS ?=
run: build
	@cmake --install $(BUILD) --prefix $(CURDIR)/$(BUILD)/run > /dev/null
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: no display here, so the app runs headless (Ctrl+C quits)."; \
	  $(BUILD)/run/bin/Orvo_Halden --headless $(RUN_ARGS); \
	else \
	  $(BUILD)/run/bin/Orvo_Halden $(RUN_ARGS); \
	fi

format:
	git ls-files '*.h' '*.cpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(CLANG_BUILD) $(FUZZ_BUILD)
