# Front door. `make test` and `make demo` do all set-up on a fresh Debian.
MAKEFLAGS += --no-print-directory
NATIVE   := build/native
WIN32    := build/win32
WIN64    := build/win64
SANITIZE := build/sanitize
FUZZ     := build/fuzz
JOBS     ?= $(shell nproc)
CMAKE_FLAGS ?=

# 32 where this host runs 32-bit programs (Wine tests from the win32 tree),
# else 64 (the same tests from the win64 tree under wine64). Probed once per
# checkout; QOR_WINE_BITS=64 takes the 64-bit path on any host.
WINE_BITS := $(shell scripts/host-bits.sh build/host-bits)
export QOR_WINE_BITS := $(WINE_BITS)
ifeq ($(WINE_BITS),64)
WINE_TREE := $(WIN64)
else
WINE_TREE := $(WIN32)
endif


.PHONY: all deps check-tools build native win32 win64 sanitize test fuzz fuzz-smoke demo screenshots \
        bench format clean

all: build

deps:
	@scripts/deps.sh $(WINE_BITS)

# Every command the tests start is here, or the run stops now, naming it.
check-tools: deps
	@scripts/check-tools.sh $(WINE_BITS)

build: deps native win32 $(if $(filter 64,$(WINE_BITS)),win64)

native:
	cmake -S . -B $(NATIVE) $(CMAKE_FLAGS)
	cmake --build $(NATIVE) -j $(JOBS)

win32: native
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DQOR_NATIVE_BIN=$(abspath $(NATIVE))/bin $(CMAKE_FLAGS)
	cmake --build $(WIN32) -j $(JOBS)

# The same sources for x86-64 Windows: the Wine tests of hosts without 32-bit execution.
win64: native
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DQOR_NATIVE_BIN=$(abspath $(NATIVE))/bin $(CMAKE_FLAGS)
	cmake --build $(WIN64) -j $(JOBS)

# Native unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	cmake -S . -B $(SANITIZE) -DQOR_SANITIZE=ON -DQOR_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE) -j $(JOBS)

# On a 64-bit-only host the win32 tree runs its static checks (PE, imports,
# exports, resources) and the win64 tree runs everything under Wine.
ifeq ($(WINE_BITS),64)
TEST_TREES := $(NATIVE) $(SANITIZE) $(WIN32):static $(WIN64)
else
TEST_TREES := $(NATIVE) $(SANITIZE) $(WIN32)
endif

test: deps check-tools build sanitize
	@scripts/run-tests.sh $(TEST_TREES) fuzz-smoke

fuzz:
	@scripts/fuzz.sh $(FUZZ) 180

fuzz-smoke:
	@scripts/fuzz.sh $(FUZZ) 30

demo: deps build
	@scripts/demo.sh $(NATIVE) $(WINE_TREE)

screenshots: deps build
	@scripts/screenshots.sh $(WINE_TREE) docs/images

bench: deps build
	@scripts/bench.sh $(NATIVE) $(WINE_TREE)

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build
