# Top-level entry points. `make test` and `make run` do all the set-up on a fresh Debian 12.
BUILD        ?= build
BUILD_ASAN   ?= build-asan
BUILD_TSAN   ?= build-tsan
BUILD_FUZZ   ?= build-fuzz
BUILD_BENCH  ?= build-release
BUILD_PACKAGE ?= build-package
BUILD_ARM64  ?= build-arm64
BUILD_PACKAGE_ARM64 ?= build-package-arm64
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CRASH_SAVE_KILLS ?= 1000
SOAK_MINUTES ?= 30
SOAK_SAMPLE_SECONDS ?= 60
FUZZ_LONG_SECONDS ?= 1800
FUZZ_LONG_RUNS ?= 10000000
STORM_COUNT  ?= 1000000
PEER_LOSS_CYCLES ?= 50
GENERATOR    := -G Ninja

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps build test test-vm test-wayland test-browser test-sanitize fuzz bench-build bench format format-check run check clean \
	screenshots package test-package test-thread deps-arm64 package-arm64 test-arm64 \
	test-package-arm64 test-vm-arm64 crash-save soak stress-short quality quality-short \
	quality-build touch-bench touch-bench-seeds fuzz-long replug-storm storm peer-loss test-monitors

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
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl uhid-board evdev-capture link-probe \
		wayland-touch-log
	vm/run-vm-tests $(BUILD) "$$(ls -t $(BUILD_PACKAGE)/kelvarin-vyren_*_amd64.deb | head -n1)"
	KV_VM_ONLY=browser vm/run-vm-tests $(BUILD)

# The compositor tests alone in the virtual machine (also in test-vm): sway with two outputs
# and cage, headless, take the driver's pointer and touchscreen onto the chosen output.
test-wayland: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl uhid-board evdev-capture link-probe \
		wayland-touch-log
	KV_VM_ONLY=wayland vm/run-vm-tests $(BUILD)

# The browser test alone in the virtual machine (test-vm runs it too, on a machine of its own):
# Chromium in a kiosk on headless sway, its page's own events from native touch and from the
# pointer mode.
test-browser: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl uhid-board evdev-capture link-probe
	KV_VM_ONLY=browser vm/run-vm-tests $(BUILD)

# The replug storm alone in the virtual machine, outside CI: REPLUG_CYCLES unplugs and replugs
# of the emulated board (test-vm runs 15 of them); prints reconnect times, handles, threads
# and memory.
REPLUG_CYCLES ?= 100
replug-storm: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl uhid-board evdev-capture link-probe
	KV_VM_ONLY=storm KV_VM_REPLUG_CYCLES=$(REPLUG_CYCLES) KV_VM_TIMEOUT=$${KV_VM_TIMEOUT:-1500} \
		vm/run-vm-tests $(BUILD)

# The non-GUI tests again, under AddressSanitizer and UndefinedBehaviorSanitizer, and the X
# connection-loss test in a loop of 2000 runs.
test-sanitize: deps
	cmake -S . -B $(BUILD_ASAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON \
		-DKV_GUI=OFF -DKV_BENCH=OFF
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS) -LE gui
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		$(BUILD_ASAN)/tests/backends/backend_tests --gtest_brief=1 \
		--gtest_filter='X11ConnectionTest.*' --gtest_repeat=2000 \
		>$(BUILD_ASAN)/x11-loss-loop.log 2>&1 || { tail -n 60 $(BUILD_ASAN)/x11-loss-loop.log; exit 1; }
	@echo "X servers hanging up at each step: $$(grep -c '^\[  PASSED  \]' \
		$(BUILD_ASAN)/x11-loss-loop.log) of 2000 runs passed under the sanitizers"

# The Debian package, from a Release build of the programs only (no tests, no benchmarks).
package: deps
	cmake -S . -B $(BUILD_PACKAGE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF \
		-DKV_BENCH=OFF
	cmake --build $(BUILD_PACKAGE) -j $(JOBS) --target package

# The package checked as a user meets it: lintian, the desktop entry, the systemd unit, and
# the unpacked programs run by an ordinary user.
test-package: package
	scripts/test-package $(BUILD_PACKAGE)

# 64-bit ARM (Raspberry Pi OS, Debian arm64), cross-built here with the toolchain in cmake/
# and run under qemu-user. Opt-in: only these targets add the arm64 architecture and its
# packages (scripts/install-deps-arm64).
ARM64_TOOLCHAIN = -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/aarch64-linux-gnu.cmake

deps-arm64: deps
	@scripts/install-deps-arm64

# build-package-arm64/kelvarin-vyren_<version>_arm64.deb
package-arm64: deps-arm64
	cmake -S . -B $(BUILD_PACKAGE_ARM64) $(GENERATOR) $(ARM64_TOOLCHAIN) \
		-DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF -DKV_BENCH=OFF
	cmake --build $(BUILD_PACKAGE_ARM64) -j $(JOBS) --target package

test-package-arm64: package-arm64
	scripts/test-package $(BUILD_PACKAGE_ARM64)

# The test suite cross-built and run under qemu-user (binfmt): the arm64 programs with the
# host's Xvfb, accessibility bus and Python driving them. Every non-desktop test runs; of the
# desktop ones (the same Python and Qt logic as on amd64, slow under emulation) those that
# start, stop and inject with arm64 processes: the window through the accessibility bus, the
# driver's stop and start, pointer injection into X.
ARM64_DESKTOP_TESTS = ControllerAccessibility|AdvancedPath_driver|AdvancedPath_cancel|XvfbEndToEnd

test-arm64: deps-arm64
	cmake -S . -B $(BUILD_ARM64) $(GENERATOR) $(ARM64_TOOLCHAIN) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BENCH=OFF
	cmake --build $(BUILD_ARM64) -j $(JOBS)
	ctest --test-dir $(BUILD_ARM64) --output-on-failure -j $(JOBS) -LE gui
	ctest --test-dir $(BUILD_ARM64) --output-on-failure -j $(JOBS) -L gui -R '$(ARM64_DESKTOP_TESTS)'

# The arm64 Driver against a real arm64 kernel: Debian's arm64 kernel booted under
# qemu-system-aarch64 (virt, Cortex-A72), the uhid board's drag read back through uinput.
test-vm-arm64: deps
	@scripts/install-deps-arm64 vm
	cmake -S . -B $(BUILD_ARM64) $(GENERATOR) $(ARM64_TOOLCHAIN) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BENCH=OFF
	cmake --build $(BUILD_ARM64) -j $(JOBS) --target Driver uhid-board evdev-capture
	KV_VM_ARCH=arm64 vm/run-vm-tests $(BUILD_ARM64)

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

# Long fuzzing, outside CI: every libFuzzer target for FUZZ_LONG_RUNS executions or
# FUZZ_LONG_SECONDS, whichever ends first, on the corpus kept in $(BUILD_FUZZ)/corpus; ends
# with a table of executions, coverage, corpus size and findings.
fuzz-long: deps
	CXX=clang++ cmake -S . -B $(BUILD_FUZZ) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKV_FUZZ=ON -DKV_GUI=OFF
	cmake --build $(BUILD_FUZZ) -j $(JOBS)
	scripts/fuzz-long $(BUILD_FUZZ) $(FUZZ_LONG_SECONDS) $(FUZZ_LONG_RUNS)

# The Release build with the benchmarks, compiled but not run. CI builds it so that a warning
# only the optimiser finds cannot break `make bench`.
bench-build: deps
	cmake -S . -B $(BUILD_BENCH) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKV_GUI=OFF
	cmake --build $(BUILD_BENCH) -j $(JOBS)

# Benchmarks in the Release build; prints the figures.
bench: bench-build
	scripts/run-benchmarks $(BUILD_BENCH)

# The Driver killed with SIGKILL at random moments while it saves, CRASH_SAVE_KILLS times,
# restarted each time on the same folder: DRIVER.INI must always hold the old or the new
# settings, whole, and no temporary file may pile up. Prints the figures.
crash-save: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl
	tests/stress/crash-save $(BUILD) $(CRASH_SAVE_KILLS)

# The Driver on the simulated demo with a Controller-role peer for SOAK_MINUTES: memory, file
# descriptors, threads, frames per period and heartbeats sampled every SOAK_SAMPLE_SECONDS, and
# what it costs in CPU and memory at the demo's rate (100 frames per second) and at 250.
soak: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl
	SOAK_MINUTES=$(SOAK_MINUTES) SOAK_SAMPLE_SECONDS=$(SOAK_SAMPLE_SECONDS) tests/stress/soak $(BUILD)

# The monitor choice: its logic, the calibration on one monitor, and the real Controller on a
# desktop of two monitors (Xorg with the dummy video driver). All of it is also in `test`.
test-monitors: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Controller kvctl monitor_choice_tests \
		advanced_page_tests calibrate_tests calibration_tests backend_tests
	ctest --test-dir $(BUILD) --output-on-failure \
		-R '^(MonitorChoice|AdvancedPage|ControllerCalibrate|MonitorsPath)$$|OneMonitorOfTwo|MonitorRotation'

# The short forms of crash-save, soak, storm and peer-loss, for CI.
stress-short: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl datagram-storm
	tests/stress/crash-save $(BUILD) 100
	SOAK_MINUTES=1 SOAK_SAMPLE_SECONDS=10 SOAK_COST_SECONDS=15 tests/stress/soak $(BUILD)
	STORM_COUNT=100000 tests/stress/storm $(BUILD)
	PEER_LOSS_CYCLES=5 tests/stress/peer-loss $(BUILD)

# How good the touch is: latency, the error map, jitter and drawn lines on the simulated foil
# through the driver's own path, written with their plots to docs/quality.md (Release build, the
# tools only). quality-short runs them briefly and writes nowhere in the tree, for CI.
QUALITY_TOOLS = touch_latency position_sweep touch_lines touch_bench

quality-build: deps
	cmake -S . -B $(BUILD_BENCH) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKV_GUI=OFF
	cmake --build $(BUILD_BENCH) -j $(JOBS) --target $(QUALITY_TOOLS)

quality: quality-build
	scripts/quality-report $(BUILD_BENCH) docs

quality-short: quality-build
	QUALITY_SHORT=1 scripts/quality-report $(BUILD_BENCH)

# The touch-screen test procedures on several foil models, one table per model (also a section
# of docs/quality.md); TOUCH_BENCH_ARGS=--short runs them briefly.
touch-bench: quality-build
	$(BUILD_BENCH)/bench/quality/touch_bench $(TOUCH_BENCH_ARGS)

# The same tables on several simulated boards, each figure's worst over the seeds
# (TOUCH_BENCH_SEEDS, default 2 3 7 11).
touch-bench-seeds: quality-build
	scripts/touch-bench-seeds $(BUILD_BENCH) $(TOUCH_BENCH_SEEDS)

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
	cmake --build $(BUILD) -j $(JOBS) --target controller-shots Controller Driver kvctl desktop-shot
	$(BUILD)/tests/rigs/controller-shots/controller-shots docs
	tests/controller/a11y/with-desktop --two-monitors /usr/bin/python3 \
		tests/controller/a11y/monitors_path_test.py $(BUILD)/controller/Controller \
		$(BUILD)/tools/kvctl/kvctl $(BUILD)/tests/rigs/desktop-shot/desktop-shot \
		docs/controller-monitors.png

# A storm of malformed and random datagrams at a running Driver (tests/stress/storm): it must
# keep answering, keep its settings and give its memory back. CI runs it with
# STORM_COUNT=100000.
storm: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl datagram-storm
	STORM_COUNT=$(STORM_COUNT) tests/stress/storm $(BUILD)

# Peers lost under a running Driver (tests/stress/peer-loss): a Controller killed and started
# again PEER_LOSS_CYCLES times, each start getting every record, then the X server killed and
# started again under --pointer=xtest, the pointer moving on the new one. CI runs
# PEER_LOSS_CYCLES=5.
peer-loss: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Driver kvctl
	PEER_LOSS_CYCLES=$(PEER_LOSS_CYCLES) tests/stress/peer-loss $(BUILD)

# What CI runs.
check: test test-sanitize test-thread bench-build test-package fuzz format-check

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_FUZZ) $(BUILD_BENCH) $(BUILD_PACKAGE) \
		$(BUILD_ARM64) $(BUILD_PACKAGE_ARM64)
