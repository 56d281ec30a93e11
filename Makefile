# Front door. `make test` and `make demo` do all set-up on a fresh Debian.
MAKEFLAGS += --no-print-directory
NATIVE   := build/native
WIN32    := build/win32
SANITIZE := build/sanitize
FUZZ     := build/fuzz
JOBS     ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build native win32 sanitize test test-native test-win32 test-sanitize \
        fuzz fuzz-smoke demo screenshots bench format clean

all: build

deps:
	@scripts/deps.sh

build: deps native win32

native:
	cmake -S . -B $(NATIVE) $(CMAKE_FLAGS)
	cmake --build $(NATIVE) -j $(JOBS)

win32: native
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DQOR_NATIVE_BIN=$(abspath $(NATIVE))/bin $(CMAKE_FLAGS)
	cmake --build $(WIN32) -j $(JOBS)

# Native unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	cmake -S . -B $(SANITIZE) -DQOR_SANITIZE=ON -DQOR_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE) -j $(JOBS)

test: deps build sanitize
	@scripts/run-tests.sh $(NATIVE) $(SANITIZE) $(WIN32) fuzz-smoke

fuzz:
	@scripts/fuzz.sh $(FUZZ) 180

fuzz-smoke:
	@scripts/fuzz.sh $(FUZZ) 30

demo: deps build
	@scripts/demo.sh $(NATIVE) $(WIN32)

screenshots: deps build
	@scripts/screenshots.sh $(WIN32) docs/images

bench: deps build
	@scripts/bench.sh $(NATIVE) $(WIN32)

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build
