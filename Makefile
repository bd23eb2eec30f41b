# Entry points for people and CI. Everything builds out of tree under build/.
#   make demo          set up, build, run a firmware-updater session against the simulator
#   make test          set up, build and run every test (debug build, then ASan + UBSan build)
#   make format-check  fail when a source file is not formatted as .clang-format says

# Debian packages the build and the tests need.
DEB_PACKAGES := g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                clang-format srecord socat libcurl4-openssl-dev libcpp-httplib-dev
JOBS ?= $(shell nproc)
SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps build test test-dev test-asan demo bench format format-check clean

all: build

# Installs missing packages when we are root; otherwise prints the exact command.
deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
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

build/%/CMakeCache.txt: | deps
	cmake --preset $*

build: deps build/dev/CMakeCache.txt
	cmake --build --preset dev -j $(JOBS)

test-dev: build
	ctest --preset dev

test-asan: deps build/asan/CMakeCache.txt
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test: test-dev test-asan

demo: build
	./build/dev/src/cli/tarsa-update --simulate

bench: deps build/release/CMakeCache.txt
	cmake --build --preset release -j $(JOBS)
	@for b in build/release/bench/bench_*; do echo "== $$b"; $$b; done

format:
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf build
