# The two commands of the README: `make run` and `make test`. Each installs what is missing
# on a Debian or Ubuntu machine, configures, builds, then starts the program or runs the
# whole test suite headless.

PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev \
            libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils appstream \
            clang libclang-rt-dev llvm xvfb xauth xdotool openbox imagemagick libgcrypt20-dev
# What `make windows-test` and `make windows-package` need: the mingw-w64 cross compiler,
# wine, GoogleTest's sources, NSIS, and libgcrypt built for Windows (linked statically).
WINDOWS_PACKAGES := cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest nsis \
                    libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps windows-deps build run test sanitize windows-test windows-package check e2e \
        windows-e2e fuzz bench install package clean

all: build

# Installs those of the Debian packages $(1) that are missing.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

windows-deps:
	$(call install_missing,$(WINDOWS_PACKAGES))

build: deps
	cmake --preset default
	cmake --build --preset default

run: build
	./build/default/src/vantory

# `make test` builds once (build/default) and runs the suite headless, then the end-to-end
# test on a virtual display.
test: build
	QT_QPA_PLATFORM=offscreen ctest --preset default
	tests/e2e/run_e2e.sh build/default || [ $$? = 77 ]

# `make sanitize` runs the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (build/asan, which also builds the benchmarks so that they keep compiling), then each fuzz
# target for a few seconds (build/fuzz); any report fails it.
sanitize: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

# `make windows-test` cross-builds the core, the Win32 program (build/windows/src/vantory.exe)
# and their tests for Windows (build/windows) and runs the tests under wine, in wine prefixes
# of their own (build/windows/wineprefix; the windows' tests in wineprefix-ui, where wine's null
# graphics driver draws them), without a display.
WINE_ENV := WINEDEBUG=-all WINEPREFIX=$(CURDIR)/build/windows/wineprefix \
            WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

windows-test: windows-deps
	cmake --preset windows
	cmake --build --preset windows
	$(WINE_ENV) wineboot --init
	ctest --preset windows

# `make windows-package` cross-builds the Windows program and its installer,
# build/windows/vantory-<version>-setup.exe, made by NSIS's makensis.
windows-package: windows-deps
	cmake --preset windows
	cmake --build --preset windows --target windows_installer

# `make check` is what CI runs: `make test`, the sanitizers and fuzz targets, the core's
# tests under wine, the Windows program installed and played under wine (skipped where a tool
# is missing), then the share of the code that is tests, which may be at most 35%, and the
# folders' drawing (tools/layout-check.sh).
check: test sanitize windows-test
	tests/e2e/run_e2e_windows.sh build/windows build/default || [ $$? = 77 ]
	sh tools/test-ratio.sh 35
	sh tools/layout-check.sh

# `make e2e` drives the real program on a virtual X display (xvfb-run, openbox, xdotool):
# it hides files from its command line, through the file dialog and from a second start,
# restores one found with the filter, lets the window lock when left alone, and checks the
# disk. `make test` runs it too, and skips it where xvfb-run, xdotool or openbox is missing.
e2e: build
	tests/e2e/run_e2e.sh build/default

# `make windows-e2e` installs the Windows package in a fresh wine prefix and plays the everyday
# cycle with the installed program on a virtual X display, then checks the disk in the prefix.
# SCREENSHOTS=docs/screenshots/windows takes the pictures of the password, main and busy windows
# again there.
windows-e2e: build windows-package
	tests/e2e/run_e2e_windows.sh build/windows build/default

# `make fuzz` runs each fuzz target for FUZZ_SECONDS, one after the other; what they find
# stays in build/fuzz/fuzz/corpus/, crashes in build/fuzz/fuzz/artifacts/.
FUZZ_SECONDS ?= 600

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	sh fuzz/run_fuzzers.sh $(FUZZ_SECONDS) build/fuzz/fuzz/fuzz_unseal \
	  build/fuzz/fuzz/fuzz_settings build/fuzz/fuzz/fuzz_decrypt_copy \
	  build/fuzz/fuzz/fuzz_strong_open build/fuzz/fuzz/fuzz_strong_key_record

bench: deps
	cmake --preset release
	cmake --build --preset release
	./build/release/bench/vantory_small_files_bench
	./build/release/bench/vantory_commands_bench
	./build/release/bench/vantory_file_bench
	./build/release/bench/vantory_bench

# `make install` puts the program, its icons, desktop entry and AppStream metadata under
# PREFIX (default /usr/local), below DESTDIR when given; through sudo when not writable.
PREFIX ?= /usr/local

install: build
	@dest="$(DESTDIR)$(PREFIX)"; mkdir -p "$$dest" 2>/dev/null; \
	if [ -w "$$dest" ]; then run=""; else run="$(SUDO)"; fi; \
	$$run env DESTDIR="$(DESTDIR)" cmake --install build/default --prefix "$(PREFIX)" --strip

# `make package` builds the Debian package build/default/vantory_<version>_<arch>.deb;
# dpkg-shlibdeps (dpkg-dev) and file work out its library dependencies.
package: PACKAGES += dpkg-dev file
package: build
	rm -f build/default/vantory_*.deb
	cd build/default && cpack
	@echo "Install it with: $(strip $(SUDO) apt-get install) ./$$(ls build/default/vantory_*.deb)"

clean:
	rm -rf build
