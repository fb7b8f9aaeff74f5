# The two commands of the README: `make run` and `make test`. Each installs what is missing
# on a Debian or Ubuntu machine, configures, builds, then starts the program or runs the
# whole test suite headless.

PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev \
            libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils appstream
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test bench install package clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default

run: build
	./build/default/src/vantory

test: build
	QT_QPA_PLATFORM=offscreen ctest --preset default

bench: deps
	cmake --preset release
	cmake --build --preset release
	./build/release/bench/vantory_bench
	./build/release/bench/vantory_file_bench

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
