# Entry points for people and CI. Everything builds out of tree under build/.
#   make demo          set up, build, run a firmware-updater session against the simulator
#   make test          set up, build and run every test (debug build, ASan + UBSan build,
#                      the digital-sensor variant's own tests, and the fault matrix)
#   make test-fault    the fault matrix alone (whole updates cut at every phase); prints its table
#   make format-check  fail when a source file is not formatted as .clang-format says
#   make package       build the release programs and their man pages, then the .deb
#   make gui           build and start the window (tarsa-updater)
#   make screenshots   save pictures of the window against the simulator into docs/
#   make test-windows  cross-build for Windows (mingw-w64) and run its tests under wine
#   make windows-zip   the Windows command line as build/tarsa-update-<version>-win64.zip

# Debian packages the build and the tests need.
DEB_PACKAGES := g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                clang-format srecord socat libcurl4-openssl-dev libcpp-httplib-dev \
                openssl qt6-base-dev fonts-dejavu-core help2man dpkg-dev file librsvg2-bin \
                desktop-file-utils xvfb xauth openbox libcli11-dev
# What the Windows cross-build and its tests under wine need besides.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix wine wine64 googletest zip
JOBS ?= $(shell nproc)
VERSION := $(word 3,$(shell grep -m1 -o 'tarsa VERSION [0-9.]*' CMakeLists.txt))
# The wine prefix of the Windows tests, made afresh by every test run.
WINE_PREFIX := $(CURDIR)/build/windows/wineprefix
SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps build test test-dev test-asan test-sensor test-fault demo gui screenshots bench \
        package format format-check clean deps-windows test-windows windows-zip

all: build

# Installs missing packages when we are root; otherwise prints the exact command.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing || exit 1; \
	  else \
	    echo "Missing packages. Run as root:"; \
	    echo "  apt-get update && apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(DEB_PACKAGES))

deps-windows:
	$(call install_missing,$(WINDOWS_PACKAGES))

build/%/CMakeCache.txt: | deps
	cmake --preset $*

build: deps build/dev/CMakeCache.txt
	cmake --build --preset dev -j $(JOBS)

test-dev: build
	ctest --preset dev

test-asan: deps build/asan/CMakeCache.txt
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

# The digital-sensor variant differs only in the window logic and the front
# ends, so its build runs their tests.
test-sensor: deps build/sensor/CMakeCache.txt
	cmake --build --preset sensor -j $(JOBS)
	ctest --preset sensor -L variant

# The fault matrix runs tarsa-update many times against the simulator; its
# tests carry the label "fault", which the other presets leave out.
FAULT_ROWS := build/dev/tests/fault/matrix
test-fault: build
	rm -rf $(FAULT_ROWS)
	@status=0; ctest --preset fault || status=$$?; \
	echo; echo "| point | kind | first-run message | recovered |"; echo "|---|---|---|---|"; \
	cat $(FAULT_ROWS)/*.row 2>/dev/null; exit $$status

test: test-dev test-asan test-sensor test-fault

# The Windows build: its unit tests under wine (the build's emulator), then,
# from the Linux build, the Windows programs under wine against the
# simulator on pseudo-terminals mapped as wine COM ports (label "wine").
test-windows: deps deps-windows build/dev/CMakeCache.txt
	rm -rf $(WINE_PREFIX)
	mkdir -p build/windows
	WINEPREFIX=$(WINE_PREFIX) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i
	cmake --preset windows
	WINEPREFIX=$(WINE_PREFIX) cmake --build --preset windows -j $(JOBS)
	WINEPREFIX=$(WINE_PREFIX) ctest --preset windows
	cmake --build --preset dev -j $(JOBS) --target wine_update_tests wine_cli_tests
	WINEPREFIX=$(WINE_PREFIX) ctest --preset wine

# The .exe (stripped; it needs no DLLs beside it), the README and the LICENSE
# as Windows text files.
WINDOWS_ZIP_DIR := build/windows/zip/tarsa-update-$(VERSION)-win64
windows-zip: deps deps-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS) --target tarsa-update
	rm -rf build/windows/zip build/tarsa-update-$(VERSION)-win64.zip
	mkdir -p $(WINDOWS_ZIP_DIR)
	x86_64-w64-mingw32-strip -o $(WINDOWS_ZIP_DIR)/tarsa-update.exe build/windows/src/cli/tarsa-update.exe
	sed 's/$$/\r/' README.md > $(WINDOWS_ZIP_DIR)/README.txt
	sed 's/$$/\r/' LICENSE > $(WINDOWS_ZIP_DIR)/LICENSE.txt
	cd build/windows/zip && zip -q -r -X ../../tarsa-update-$(VERSION)-win64.zip tarsa-update-$(VERSION)-win64
	@ls -l build/tarsa-update-$(VERSION)-win64.zip

# The window against a simulated Talox when there is a display, the
# command-line session otherwise.
demo: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  ./build/dev/src/gui/tarsa-updater --simulate; \
	else \
	  ./build/dev/src/cli/tarsa-update --simulate; \
	fi

gui: deps build/dev/CMakeCache.txt
	cmake --build --preset dev -j $(JOBS) --target tarsa-updater
	./build/dev/src/gui/tarsa-updater --simulate

# Xvfb with a window manager (for the title bars); the settings the window
# writes go to a throw-away folder.
screenshots: deps build/dev/CMakeCache.txt
	cmake --build --preset dev -j $(JOBS) --target window_screenshots
	@tmp=$$(mktemp -d); \
	XDG_CONFIG_HOME=$$tmp XDG_DATA_HOME=$$tmp xvfb-run -a -s "-screen 0 1024x768x24" \
	  sh -c 'openbox --sm-disable >/dev/null 2>&1 & sleep 1; ./build/dev/tests/gui/window_screenshots docs'; \
	rc=$$?; rm -rf $$tmp; exit $$rc

bench: deps build/release/CMakeCache.txt
	cmake --build --preset release -j $(JOBS)
	@for b in build/release/bench/*/bench_*; do [ -x "$$b" ] || continue; echo "== $$b"; $$b; done

# Only what the package holds is built (not the tests); dependencies come from
# the binaries through dpkg-shlibdeps.
package: deps build/release/CMakeCache.txt
	cmake --build --preset release -j $(JOBS) --target tarsa-installables
	cd build/release && cpack -G DEB
	dpkg-deb -I build/release/tarsa_*.deb

format:
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf build
