# Quillon developer commands. `make test` is all a fresh machine needs.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Checking builds keep line tables for reports but skip full debug info and
# heavy optimisation: they compile far faster and the findings are the same.
CHECK_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g0 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g0 -DNDEBUG"
# They also share precompiled headers and compile each target's files in
# batches: the plain build is the one that proves every file includes what it
# uses.
CHECK_PCH ?= -DQUILLON_PCH=ON
CHECK_UNITY ?= -DQUILLON_UNITY=ON
# The builds link with lld (scripts/bootstrap installs it): about half the
# CPU time and a third of the wall time of the system linker. The benchmark
# build keeps the system linker, so its figures stay comparable.
LINKER_FLAGS ?= -DQUILLON_LINKER=lld
# Test runs may start more programs than there are cores: many of them
# mostly wait on sockets, timers and child processes.
CTEST_JOBS ?= $(JOBS)

.PHONY: all bootstrap build test bench bench-smoke fuzz sanitize asan tsan format clean screenshots goldens run demo demo-shot

all: build

bootstrap:
	bash scripts/bootstrap

build/build.ninja:
	cmake -S . -B build -G Ninja $(LINKER_FLAGS) $(CMAKE_FLAGS)

build: bootstrap build/build.ninja
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest -j $(CTEST_JOBS) --output-on-failure --timeout 300

# Address and undefined-behaviour sanitizers over the non-GUI tests, then the
# thread sanitizer over the tests that exercise threads.
sanitize: asan
	$(MAKE) tsan

asan: bootstrap
	cmake -S . -B build-asan -G Ninja -DQUILLON_SANITIZE=address,undefined $(CHECK_FLAGS) $(CHECK_PCH) $(CHECK_UNITY) $(LINKER_FLAGS)
	cmake --build build-asan -j $(JOBS) --target quillon_tests
	cd build-asan && ctest -j $(CTEST_JOBS) --output-on-failure --timeout 300 -LE gui

tsan: bootstrap
	cmake -S . -B build-tsan -G Ninja -DQUILLON_SANITIZE=thread $(CHECK_FLAGS) $(CHECK_PCH) $(CHECK_UNITY) $(LINKER_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target quillon_thread_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j $(CTEST_JOBS) --output-on-failure --timeout 300 -L threads

GOAL_BENCHES = ^bench_(main_road|scp_decode|tftp|mms_field)$$
bench: bootstrap
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF -DQUILLON_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	bash scripts/run-benchmarks build-bench --out build-bench/results/1
	# The goal figures come from three passes: two more of their programs.
	for pass in 2 3; do bash scripts/run-benchmarks build-bench --only '$(GOAL_BENCHES)' \
	    --out build-bench/results/$$pass || exit 1; done
	/usr/bin/python3 scripts/bench-goals build-bench/results/1 build-bench/results/2 build-bench/results/3

# Every benchmark program built in the test build and each row run once:
# a benchmark that stops building or crashes fails here (CI), nothing is
# measured.
bench-smoke: build
	cmake -S . -B build -DQUILLON_BENCH=ON
	cmake --build build -j $(JOBS)
	bash scripts/run-benchmarks build --smoke

# A short bounded run of every fuzz target; FUZZ_BUDGET (seconds) shares one
# fixed total among all targets instead.
FUZZ_SECONDS ?= 15
FUZZ_BUDGET ?=
fuzz: bootstrap
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUILLON_TESTS=OFF -DQUILLON_FUZZ=ON $(CHECK_FLAGS) $(CHECK_UNITY) $(LINKER_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target quillon_fuzz_targets
	bash scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS) $(FUZZ_BUDGET)

# Every registered screen at 100, 150 and 200 % under Xvfb, into build/screenshots/.
screenshots: build
	JOBS=$(JOBS) bash scripts/screenshots build

# Rewrites the reviewed pictures in tests/goldens after a deliberate change.
goldens: build
	JOBS=$(JOBS) bash scripts/goldens build

# The program on your display (its preferences live in your home as usual).
run: bootstrap build/build.ninja
	cmake --build build -j $(JOBS) --target quillon
	build/app/quillon/quillon

# Four simulated units on a private network and the program on your display;
# File > Open demo.quil connects them, Tool > Firmware Update offers their
# packages (see README).
demo: bootstrap build/build.ninja
	JOBS=$(JOBS) bash scripts/demo build

# The same demo under a virtual X server: build/screenshots/demo.png and the
# pictures of the BroxL-D3's log, its Properties, the BroxL-D2's summary and
# the firmware window (demo-firmware.png).
demo-shot: bootstrap build/build.ninja
	JOBS=$(JOBS) bash scripts/demo --screenshot build

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
