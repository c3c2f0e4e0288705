# The two commands of the README, and the builds CI adds.
BUILD ?= build
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)
# Extra CMake settings for every build; CI passes -DTOLVANE_WERROR=ON.
CMAKE_ARGS ?=

# Seconds each fuzz target runs in `make fuzz`; CI runs them briefly.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = assignments midi_file dispatcher lv2_atoms clap_state vst3_state

.PHONY: all configure deps deps-windows test test-sanitize test-thread windows test-windows bench demo install clean fuzz artwork verify-fastmath \
  dist test-dist format format-check

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

deps:
	@tools/install-deps.sh

# Builds everything and runs every test.
test: all
	cd $(BUILD) && ctest $(CTEST_FLAGS)

# The same tests with AddressSanitizer and UndefinedBehaviorSanitizer, stopping at the first report.
test-sanitize: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=address,undefined -DTOLVANE_BENCH=OFF $(CMAKE_ARGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest $(CTEST_FLAGS)

# The tests again under ThreadSanitizer, for everything that crosses threads.
test-thread: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_SANITIZE=thread -DTOLVANE_BENCH=OFF $(CMAKE_ARGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp ctest $(CTEST_FLAGS)

# The Windows plug-in, 32-bit (the design's own target) and 64-bit, cross-built with mingw-w64.
windows: deps-windows
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build build-win32 -j $(JOBS)
	cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build build-win64 -j $(JOBS)

# The Windows builds' tests under Wine, and their output held against the Linux build's.
test-windows: windows all
	cd build-win32 && ctest $(CTEST_FLAGS)
	cd build-win64 && ctest $(CTEST_FLAGS)

deps-windows:
	@tools/install-deps.sh windows

# The tree's layout (.clang-format): `format` applies it, `format-check` fails on any difference.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')
format:
	@tools/install-deps.sh format
	@clang-format -i $(FORMAT_FILES)
format-check:
	@tools/install-deps.sh format
	@clang-format --dry-run --Werror $(FORMAT_FILES) && echo "The layout is the tree's own."

# Coverage-guided fuzzing of the file reader, MIDI files, dispatcher call
# sequences, the LV2 plug-in's and editor's atoms and the CLAP and VST3 state
# readers (libFuzzer with ASan and
# UBSan); corpora in build-fuzz/corpus/, crash, leak and timeout
# inputs in build-fuzz/artifacts/<target>/; tests/fuzz/<target>.dict, where
# there is one, gives a target well-formed pieces to start from.
fuzz:
	@tools/install-deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_FUZZ=ON \
	  -DTOLVANE_SANITIZE=address,undefined,fuzzer-no-link -DTOLVANE_TESTS=OFF -DTOLVANE_BENCH=OFF $(CMAKE_ARGS)
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/artifacts/$$t && \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    $$(test -f tests/fuzz/$$t.dict && echo -dict=tests/fuzz/$$t.dict) \
	    -artifact_prefix=build-fuzz/artifacts/$$t/ -print_final_stats=1 build-fuzz/corpus/$$t || exit 1; \
	done

# Redraws the editor's images at 100, 150 and 200 % into resources/ (needs
# python3-cairo and the DejaVu fonts) and writes a contact sheet of every
# film-strip frame and a preview of the panel at each size to build/artwork/.
artwork:
	@tools/install-deps.sh artwork
	/usr/bin/python3 tools/make-artwork.py $(BUILD)/artwork

# Every float the gain computer can meet: the batched log10 and 10^x against the C library.
verify-fastmath: all
	$(BUILD)/bench/verify_fastmath

bench: all
	$(BUILD)/bench/audio_path_bench
	$(BUILD)/bench/dsp_bench

clean:
	rm -rf $(BUILD) build-asan build-tsan build-win32 build-win64 build-fuzz build-release build-release-win32 \
	  build-release-win64 dist

# Builds the plug-ins and the command (no tests, no benchmarks) and renders a
# drum loop through the five programs into build/demo/.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target Tolvane tolvane_lv2 tolvane_clap_module tolvane_vst3_module tolvane
	$(BUILD)/tolvane demo $(BUILD)/demo

# Copies the VST 2.4 plug-in into the user's VST folder, the LV2 bundle into
# the user's LV2 folder, the CLAP plug-in into the user's CLAP folder and the
# VST3 bundle into the user's VST3 folder, which most Linux hosts scan.
install: all
	mkdir -p $(HOME)/.vst $(HOME)/.lv2 $(HOME)/.clap $(HOME)/.vst3
	cp $(BUILD)/Tolvane.so $(BUILD)/TolvaneSC.so $(HOME)/.vst/
	cp $(BUILD)/Tolvane.clap $(HOME)/.clap/
	rm -rf $(HOME)/.lv2/Tolvane.lv2
	cp -r $(BUILD)/bundles/Tolvane.lv2 $(HOME)/.lv2/
	rm -rf $(HOME)/.vst3/Tolvane.vst3
	cp -r $(BUILD)/Tolvane.vst3 $(HOME)/.vst3/

# The release: build-release/ (Linux, with its tests) and build-release-win32/ and -win64/,
# each binary stripped with its debug information beside it, packed by CPack into
# dist/: the Linux and Windows archives, their debug archives and the Debian package,
# each with a .sha256 file. Prints the oldest glibc the Linux binaries need.
RELEASE_ARGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_DIST=ON -DTOLVANE_BENCH=OFF
dist:
	@tools/install-deps.sh dist
	cmake -S . -B build-release-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(RELEASE_ARGS) -DTOLVANE_TESTS=OFF $(CMAKE_ARGS)
	cmake --build build-release-win32 -j $(JOBS)
	cmake -S . -B build-release-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(RELEASE_ARGS) -DTOLVANE_TESTS=OFF $(CMAKE_ARGS)
	cmake --build build-release-win64 -j $(JOBS)
	cmake -S . -B build-release $(RELEASE_ARGS) $(CMAKE_ARGS) \
	  "-DTOLVANE_WINDOWS_BUILDS=$(CURDIR)/build-release-win32;$(CURDIR)/build-release-win64"
	cmake --build build-release -j $(JOBS)
	rm -rf dist
	cd build-release && cpack
	@cmake --build build-release --target glibc_version | grep 'need glibc'

# Checks the release: its tests against the release binaries, the Windows DLLs held
# against the Linux one, then the Debian package installed, used, linted and removed.
# TOLVANE_ARDOUR=1 also runs Ardour's plug-in scanner on it (install-deps.sh ardour).
test-dist: dist
	tools/test-dist.sh
