# Top-level entry points. `make test` and `make run` do all the set-up on a fresh Debian 12.
BUILD        ?= build
BUILD_ASAN   ?= build-asan
BUILD_TSAN   ?= build-tsan
BUILD_FUZZ   ?= build-fuzz
BUILD_BENCH  ?= build-release
BUILD_PACKAGE ?= build-package
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
STORM_COUNT  ?= 1000000
PEER_LOSS_CYCLES ?= 50
GENERATOR    := -G Ninja

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps build test test-vm test-sanitize fuzz bench-build bench format format-check run check clean \
	screenshots package test-package test-thread storm peer-loss

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Builds everything and runs every test.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The driver against a real kernel (uhid, hidraw, uinput) in a virtual machine under qemu,
# and the package installed there; the kernel and the initramfs are kept in $(BUILD)/vm.
test-vm: deps package $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl uhid-board evdev-capture link-probe
	vm/run-vm-tests $(BUILD) "$$(ls -t $(BUILD_PACKAGE)/kelvarin-vyren_*_amd64.deb | head -n1)"

# The non-GUI tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(BUILD_ASAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON \
		-DKV_GUI=OFF -DKV_BENCH=OFF
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS) -LE gui

# The Debian package, from a Release build of the programs only (no tests, no benchmarks).
package: deps
	cmake -S . -B $(BUILD_PACKAGE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF \
		-DKV_BENCH=OFF
	cmake --build $(BUILD_PACKAGE) -j $(JOBS) --target package

# The package checked as a user meets it: lintian, the desktop entry, the systemd unit, and
# the unpacked programs run by an ordinary user.
test-package: package
	scripts/test-package $(BUILD_PACKAGE)

# The tests that run several threads (transport, driver process, whole path, kvctl live)
# under ThreadSanitizer; any report fails the test that met it. -Wno-tsan: Boost.Asio's
# headers use std::atomic_thread_fence, which the compiler warns about under ThreadSanitizer.
test-thread: deps
	cmake -S . -B $(BUILD_TSAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKV_THREAD_SANITIZE=ON -DKV_GUI=OFF -DKV_BENCH=OFF -DCMAKE_CXX_FLAGS=-Wno-tsan
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --test-dir $(BUILD_TSAN) --output-on-failure -j $(JOBS) -L threads

# Every libFuzzer target, each for FUZZ_SECONDS.
fuzz: deps
	CXX=clang++ cmake -S . -B $(BUILD_FUZZ) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKV_FUZZ=ON -DKV_GUI=OFF
	cmake --build $(BUILD_FUZZ) -j $(JOBS)
	scripts/run-fuzzers $(BUILD_FUZZ) $(FUZZ_SECONDS)

# The Release build with the benchmarks, compiled but not run. CI builds it so that a warning
# only the optimiser finds cannot break `make bench`.
bench-build: deps
	cmake -S . -B $(BUILD_BENCH) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKV_GUI=OFF
	cmake --build $(BUILD_BENCH) -j $(JOBS)

# Benchmarks in the Release build; prints the figures.
bench: bench-build
	scripts/run-benchmarks $(BUILD_BENCH)

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run -Werror $(SOURCES)

# The main job: the Driver on a simulated board, shown in the Controller where there is a
# display, otherwise watched by kvctl monitor until Ctrl-C.
run: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl Controller
	@scripts/run-demo $(BUILD)

# The Controller's main window, graph view and About page as PNG files under docs/, for the
# README; rendered offscreen, so no display is needed.
screenshots: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target controller-shots
	$(BUILD)/tools/controller-shots/controller-shots docs

# A storm of malformed and random datagrams at a running Driver (scripts/storm): it must keep
# answering, keep its settings and give its memory back. CI runs it with STORM_COUNT=100000.
storm: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl datagram-storm
	STORM_COUNT=$(STORM_COUNT) scripts/storm $(BUILD)

# Peers lost under a running Driver (scripts/peer-loss): a Controller killed and started again
# PEER_LOSS_CYCLES times, each start getting every record, then the X server killed and started
# again under --pointer=xtest, the pointer moving on the new one. CI runs PEER_LOSS_CYCLES=5.
peer-loss: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl
	PEER_LOSS_CYCLES=$(PEER_LOSS_CYCLES) scripts/peer-loss $(BUILD)

# What CI runs.
check: test test-sanitize test-thread bench-build test-package fuzz format-check

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_FUZZ) $(BUILD_BENCH) $(BUILD_PACKAGE)
