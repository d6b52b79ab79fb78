# Front door: `make demo` and `make test`. Both install what a fresh
# Debian 12 machine lacks first (scripts/bootstrap).
JOBS ?= 2
CMAKE ?= cmake
CTEST ?= ctest

.PHONY: all bootstrap native native-asan native-tsan native-fuzz win32 win64 bench bench-build \
        test test-native test-asan test-tsan test-win32 test-fuzz load-long demo demo-win32 package \
        format clean

all: native win32

bootstrap:
	@scripts/bootstrap

native native-asan native-tsan native-fuzz win32 win64: bootstrap
	@$(CMAKE) --preset $@ >/dev/null
	@$(CMAKE) --build --preset $@ -j $(JOBS)

# The benchmarks of both builds: the optimised native tree and the win32
# tree (bench_host.exe under Wine); every goal line at the end.
bench-build: bootstrap
	@$(CMAKE) --preset bench >/dev/null
	@$(CMAKE) --build --preset bench -j $(JOBS) --target bench_monitor bench_host
	@$(CMAKE) --preset win32 >/dev/null
	@$(CMAKE) --build --preset win32 -j $(JOBS) --target bench_host

bench: bench-build
	@scripts/bench

test-native: native
	$(CTEST) --preset native

test-asan: native-asan
	$(CTEST) --preset native-asan

test-tsan: native-tsan
	$(CTEST) --preset native-tsan

# The Windows tests, the way this machine runs them (scripts/test-windows
# says which and why): the 32-bit build under Wine, natively or under an
# i386 emulator; under the emulator also the 64-bit build's fault tests.
test-win32: win32
	@JOBS=$(JOBS) scripts/test-windows

test-fuzz: bootstrap
	@$(CMAKE) --preset native-fuzz >/dev/null
	@$(CMAKE) --build --preset native-fuzz -j $(JOBS) --target fuzzers
	@scripts/run-fuzzers build/native-fuzz 20

test: test-fuzz test-native test-asan test-tsan test-win32

# Ten minutes of load through the real module, natively under
# ThreadSanitizer and under Wine; not part of `make test`.
load-long: native-tsan win32
	$(CMAKE) --build --preset native-tsan --target load-long
	@status=0; $(CMAKE) --build --preset win32 --target load-long || status=$$?; \
	  scripts/wine-stop $(CURDIR)/build/win32/wineprefix; exit $$status

demo: bootstrap
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native --target tarvel tarvel-host -j $(JOBS)
	@scripts/demo build/native

# The same demo with the real tarvel.dll under Wine (natively, or the
# 32-bit Wine under an i386 emulator where the machine refuses 32-bit code).
demo-win32: bootstrap
	@$(CMAKE) --preset win32 >/dev/null
	@$(CMAKE) --build --preset win32 --target tarvel tarvel-host -j $(JOBS)
	@scripts/demo build/win32

# dist/tarvel-<version>-win32.zip: what a user installs (see README), and
# dist/tarvel-<version>-win32-symbols.zip: the module's debug information,
# for scripts/symbolize.
package: win32
	@$(CMAKE) --build --preset win32 --target package_zip -j $(JOBS)
	@mkdir -p dist
	@cp build/win32/tarvel-*-win32.zip build/win32/tarvel-*-win32-symbols.zip dist/
	@ls dist/tarvel-*-win32.zip dist/tarvel-*-win32-symbols.zip

format:
	@find src tests tools bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build
