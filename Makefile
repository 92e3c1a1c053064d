# Front door. Every target installs what is missing, then builds with CMake and ninja.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
WINDOWS_BUILD ?= build-windows
PREFIX ?= /usr/local
DESTDIR ?=
INSTALL_BUILD ?= build-release

.PHONY: deps configure build test demo release install bench fuzz windows windows-test clean

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The demo needs only the program, not the tests.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target vemtora
	bash scripts/demo.sh $(BUILD)/vemtora

# The program alone (no tests), Release, in a folder of its own: what `make install`
# installs. A configured folder is not configured again, so after `make release` as
# yourself, `sudo make install` only copies the program and the folder stays yours.
release:
	@[ -f $(INSTALL_BUILD)/build.ninja ] || $(MAKE) configure BUILD=$(INSTALL_BUILD) \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Release -DVEMTORA_TESTS=OFF $(CMAKE_FLAGS)"
	cmake --build $(INSTALL_BUILD) -j $(JOBS) --target vemtora

# The program into $(DESTDIR)$(PREFIX)/bin, stripped of its symbols and debug information.
install: release
	DESTDIR="$(DESTDIR)" cmake --install $(INSTALL_BUILD) --prefix "$(PREFIX)" --strip

bench:
	bash scripts/install-deps.sh bench
	$(MAKE) build BUILD=build-release CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Release -DVEMTORA_TESTS=OFF -DVEMTORA_BENCH=ON"
	bash bench/run build-release/vemtora

fuzz:
	bash scripts/install-deps.sh fuzz
	bash fuzz/run $(FUZZ_SECONDS)

# Cross-builds vemtora.exe with MinGW-w64: Release and stripped, with its version resource
# and manifest (CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo" keeps the debug
# information). The dependencies are built once per machine into ~/.cache/vemtora/
# (scripts/build-windows-deps.sh) and reused from there.
windows:
	bash scripts/install-deps.sh windows
	mkdir -p $(WINDOWS_BUILD)
	bash scripts/build-windows-deps.sh > $(WINDOWS_BUILD)/deps-prefix
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DVEMTORA_WINDOWS_PREFIX="$$(tail -n 1 $(WINDOWS_BUILD)/deps-prefix)" -DVEMTORA_TESTS=OFF \
	  -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The tests of the Windows branches and a smoke run of vemtora.exe, under wine.
windows-test: windows
	bash tests/windows/run-tests $(WINDOWS_BUILD) $(JOBS)

clean:
	rm -rf $(BUILD) build-* out
