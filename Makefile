# Common commands; the real build is CMake (see CMakePresets.json).
#   make            build the native preset (stages build/stage/)
#   make test       build and run every test of the native preset
#   make asan       build and test under AddressSanitizer + UBSan
#   make tsan       build and run the run-control tests under ThreadSanitizer
#   make mingw32    build the 32-bit Windows DLL and check its exports
#   make test-wine  build the mingw64 test suite and run it under wine64
#   make bench      build and run the benchmarks
#   make demo       run the reference host on a copy of the demo prefix
#   make fuzz       build the libFuzzer targets (clang) and run each FUZZ_SECONDS
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test asan tsan mingw32 mingw64 test-wine bench demo fuzz format clean

all: build

build/native/build.ninja:
	cmake --preset native

build: build/native/build.ninja
	cmake --build --preset native -j $(JOBS)

test: build
	scripts/check-exports build/stage/modules/RegistryCleanerModule/RegistryCleanerModule.so \
	  modules/RegistryCleanerModule/dll/RegistryCleanerModule.def
	scripts/check-exports build/stage/modules/common/asp_ipc32.so ipc/asp_ipc32.def
	ctest --preset native -j $(JOBS)

build/asan/build.ninja:
	cmake --preset asan

asan: build/asan/build.ninja
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The run-control tests: the check module's runs, progress and stops, the
# delegation to the service provider and its relay, the service channel, the
# IPC library, the staged module and provider, and the thread wrapper. Any
# report fails its test (halt_on_error exits the program with an error).
TSAN_TESTS = ^(CheckModule|CopyTextOut|Delegation|ServiceProvider|ServiceRequestText|ServiceReplyText|ServiceChannel|IpcLoader|EnsureServiceProvider|Frame|Ipc|StagedIpcLibrary|Exports|StagedModule|Thread)[A-Za-z]*\.|^MyLogfileTest\.LinesFromTwoThreads
TSAN_OPTIONS_RUN = halt_on_error=1 second_deadlock_stack=1
# ThreadSanitizer stops with "unexpected memory mapping" on kernels that
# randomise more address bits than it expects; the tests then run with address
# space randomisation off, where the machine lets setarch do that.
TSAN_NO_ASLR := $(shell setarch $$(uname -m) -R true 2>/dev/null && echo setarch $$(uname -m) -R)

build/tsan/build.ninja:
	cmake --preset tsan

# unit_tests brings the staged module, IPC library and provider it starts.
tsan: build/tsan/build.ninja
	cmake --build --preset tsan -j $(JOBS) --target unit_tests
	TSAN_OPTIONS="$(TSAN_OPTIONS_RUN)" $(TSAN_NO_ASLR) ctest --preset tsan -j $(JOBS) -R '$(TSAN_TESTS)'

build/mingw32/build.ninja:
	cmake --preset mingw32

mingw32: build/mingw32/build.ninja
	cmake --build --preset mingw32 -j $(JOBS) --target RegistryCleanerModule asp_ipc32
	scripts/check-exports build/mingw32/stage/modules/RegistryCleanerModule/RegistryCleanerModule.dll \
	  modules/RegistryCleanerModule/dll/RegistryCleanerModule.def
	scripts/check-exports build/mingw32/stage/modules/common/asp_ipc32.dll ipc/asp_ipc32.def

build/mingw64/build.ninja:
	cmake --preset mingw64

mingw64: build/mingw64/build.ninja
	cmake --build --preset mingw64 -j $(JOBS)

test-wine: mingw64
	scripts/wine-test build/mingw64/tests/unit_tests.exe

# A fresh copy of the demo prefix each time, its drive links made anew; the
# check's exit status 1 (problems found) is the expected outcome.
demo: build
	rm -rf build/demo
	mkdir -p build/demo
	cp -R data/demo-prefix build/demo/prefix
	rm -rf build/demo/prefix/dosdevices
	mkdir -p build/demo/prefix/dosdevices
	ln -s ../drive_c build/demo/prefix/dosdevices/c:
	ln -s / build/demo/prefix/dosdevices/z:
	build/stage/regclean check --prefix build/demo/prefix; status=$$?; \
	  if [ $$status -gt 1 ]; then exit $$status; fi

bench: build
	build/native/bench/benchmarks

# The parsers of outside input under libFuzzer with AddressSanitizer and
# UBSan, the libraries instrumented too; each target runs FUZZ_SECONDS over a
# working copy of its seed corpus (fuzz/run). The corpora are replayed as
# ctests in the native and asan builds.
FUZZ_SECONDS ?= 60
FUZZ_FLAGS = -fsanitize=fuzzer-no-link,address,undefined

build/fuzz/build.ninja:
	cmake -S . -B build/fuzz -G Ninja -DFUZZ=ON -DREGCLEAN_TESTS=OFF -DREGCLEAN_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)"

fuzz: build/fuzz/build.ninja
	cmake --build build/fuzz -j $(JOBS) --target fuzz_targets
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build
