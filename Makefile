# The two commands of the README: `make run` and `make test`. Each installs what is missing
# on a Debian or Ubuntu machine, configures, builds, then starts the program or runs the
# whole test suite headless.

PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev \
            libgtest-dev libgmock-dev libbenchmark-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test bench clean

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

clean:
	rm -rf build
