# Entry points. `make run` and `make test` do everything on a fresh Debian 12 machine.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS ?= 2
SAMPLE ?= $(BUILD)/sample.qzf
CMAKE_FLAGS ?=

.PHONY: setup configure build test-build run test bench-build bench asan tsan fuzz format clean

setup:
	bash scripts/setup

configure:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The tests need neither the benchmarks nor a release build of them.
test-build: setup
	cmake -S . -B $(BUILD) -G Ninja -DTV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# Sets up, builds, makes a sample recording and opens the viewer on it.
run: setup build
	@if [ -x $(BUILD)/tools/qzftool/qzftool ]; then $(BUILD)/tools/qzftool/qzftool make-sample $(SAMPLE); fi
	$(BUILD)/src/app/tessavin-viewer $$( [ -f $(SAMPLE) ] && echo $(SAMPLE) )

# Sets up, builds and runs every test.
test: setup test-build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy ctest --output-on-failure -j$(JOBS)

# The optimised build of everything, benchmarks included; CI builds it so that
# warnings only the optimiser finds cannot break `make bench`.
bench-build: setup
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTV_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j$(JOBS)

bench: bench-build
	@if [ -x bench/run ]; then bash bench/run build-bench; else echo "no benchmarks yet"; fi

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: setup
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTV_SANITIZE=ON -DTV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
	  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j$(JOBS)

tsan: setup
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTV_TSAN=ON -DTV_BUILD_APP=OFF -DTV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && SDL_AUDIODRIVER=dummy ctest --output-on-failure -j$(JOBS) -R '$(TSAN_TESTS)'

# libFuzzer targets, built with clang; FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 30
fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTV_FUZZ=ON -DTV_BUILD_APP=OFF -DTV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_all
	@if [ -x fuzz/run ]; then bash fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS); else echo "no fuzz targets yet"; fi

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-tsan build-bench
