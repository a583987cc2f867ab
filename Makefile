# Common commands; the real build is CMake (see CMakePresets.json).
#   make            build the native preset (stages build/stage/)
#   make test       build and run every test of the native preset
#   make asan       build and test under AddressSanitizer + UBSan
#   make tsan       build and run the run-control tests under ThreadSanitizer
#   make mingw32    build the 32-bit Windows suite; check exports, imports, versions
#   make test-wine  build the mingw64 test suite and run it under wine64
#   make bench      build and run the benchmarks
#   make demo       run the reference host on a copy of the demo prefix
#   make fuzz       build the libFuzzer targets (clang) and run each FUZZ_SECONDS
#   make dist       the Windows zip and the Linux .tar.gz and .deb in build/dist/
#   make install    install the Linux suite under PREFIX (/usr/local)
#   make test-wine32  the mingw32 test suite and the 32-bit host end to end under a
#                     32-bit Wine (REGCLEAN_WINE32_EMULATE=1: under qemu-user)
#   make coverage  run the native suite with gcc coverage; line and branch coverage per folder
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test asan tsan mingw32 mingw64 test-wine bench demo fuzz format clean \
  dist dist-win32 dist-linux install test-wine32 mingw32-tests demo-build coverage

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

# The Windows suite (the zip's content), its exports, its imports (only what
# every supported system has) and the project version in every binary.
WIN32_STAGE = build/mingw32/stage
WIN32_BINARIES = $(WIN32_STAGE)/regclean.exe $(WIN32_STAGE)/ServiceProvider.exe \
  $(WIN32_STAGE)/modules/common/asp_ipc32.dll \
  $(WIN32_STAGE)/modules/RegistryCleanerModule/RegistryCleanerModule.dll \
  $(WIN32_STAGE)/modules/RegistryCleanerModule/language/RegistryCleanerModule_de_DE.dll \
  $(WIN32_STAGE)/modules/RegistryCleanerModule/language/RegistryCleanerModule_fr_FR.dll
# The project version as CMake read it, at the time the recipe runs.
WIN32_VERSION = $$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw32/CMakeCache.txt)

mingw32: build/mingw32/build.ninja
	cmake --build --preset mingw32 -j $(JOBS) --target RegistryCleanerModule asp_ipc32 regclean ServiceProvider
	scripts/check-exports $(WIN32_STAGE)/modules/RegistryCleanerModule/RegistryCleanerModule.dll \
	  modules/RegistryCleanerModule/dll/RegistryCleanerModule.def
	scripts/check-exports $(WIN32_STAGE)/modules/common/asp_ipc32.dll ipc/asp_ipc32.def
	scripts/check-imports $(WIN32_BINARIES)
	scripts/check-version $(WIN32_VERSION) $(WIN32_BINARIES)

build/mingw64/build.ninja:
	cmake --preset mingw64

mingw64: build/mingw64/build.ninja
	cmake --build --preset mingw64 -j $(JOBS)

test-wine: mingw64
	scripts/wine-test build/mingw64/tests/unit_tests.exe

# Only what the demo runs: the module (its language libraries come with it),
# the IPC library, the service provider and regclean; no tests, benchmarks or
# fuzz replays.
demo-build: build/native/build.ninja
	cmake --build --preset native -j $(JOBS) --target RegistryCleanerModule asp_ipc32 ServiceProvider regclean

# A fresh copy of the demo prefix each time, its drive links made anew; the
# check's exit status 1 (problems found) is the expected outcome.
demo: demo-build
	scripts/copy-demo-prefix build/demo/prefix
	build/stage/regclean check --prefix build/demo/prefix; status=$$?; \
	  if [ $$status -gt 1 ]; then exit $$status; fi

# The native suite built with gcc's coverage counters (atomic, for the
# threads) in build/coverage, every ctest run from zeroed counters, then line
# and branch coverage of the product folders per folder. Fails when the total
# line coverage falls below COVERAGE_FLOOR, so that cutting tests cannot
# quietly lose what they catch.
COVERAGE_FLOOR = 92.2

build/coverage/build.ninja:
	cmake --preset coverage

coverage: build/coverage/build.ninja
	cmake --build --preset coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage -j $(JOBS)
	scripts/coverage-report build/coverage $(COVERAGE_FLOOR) build/coverage/coverage.json

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

# ---- Shipping: the Windows zip, the Linux packages, installing, the 32-bit
# suite under Wine.

# build/dist/regclean-VERSION-win32.zip: the checked mingw32 suite, every
# binary stripped, its debug information kept in build/dist/*-win32-debug/.
dist-win32: mingw32
	scripts/make-win32-zip $(WIN32_STAGE) $(WIN32_VERSION) build/dist

# The .tar.gz and the .deb of the native build (CPack), in build/dist/.
dist-linux: demo-build
	cd build/native && cpack -B $(CURDIR)/build/dist
	rm -rf build/dist/_CPack_Packages

dist: dist-win32 dist-linux

PREFIX ?= /usr/local
install: demo-build
	cmake --install build/native --prefix $(PREFIX)

# The 32-bit suite as it ships, run by a 32-bit Wine (Debian's wine32, which
# needs the i386 architecture) in throwaway prefixes that are 64-bit, so its
# programs run under WOW64: the test suite, then the 32-bit regclean.exe end to
# end against the Linux regclean on one prefix (scripts/wine32-host-e2e). The
# 32-bit programs run natively where the kernel starts them, else under
# qemu-user 8 or later (scripts/run-i386); REGCLEAN_WINE32_EMULATE=1 emulates
# them anyway. Without a 32-bit Wine it fails.
WINE32 ?= /usr/lib/wine/wine
mingw32-tests: build/mingw32/build.ninja
	cmake --build --preset mingw32 -j $(JOBS) --target unit_tests

test-wine32: mingw32-tests demo-build
	WINE32=$(WINE32) WINE=$(WINE32) scripts/run-i386 scripts/wine-test build/mingw32/tests/unit_tests.exe
	WINE32=$(WINE32) WINE=$(WINE32) scripts/run-i386 scripts/wine32-host-e2e $(WIN32_STAGE) build/stage
