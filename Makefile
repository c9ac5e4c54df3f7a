# The project's commands. CMake does the work; these targets only put the steps in order.
#   make run    install what is missing, build, start the demo (update server, virtual board, window)
#   make test   install what is missing, build, run every test
#   make bench  build and run the benchmarks
#   make package  build the Debian package from a Release build in $(PACKAGE_DIR) and check it

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGE_DIR ?= build-package

.PHONY: all deps configure build run test bench package format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run-demo $(BUILD_DIR)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --timeout 600

bench: build
	$(BUILD_DIR)/bench/trident_engine_bench
	bench/flash-largest-update $(BUILD_DIR)

# The package is built with the flags Debian builds its own packages with (dpkg-buildflags, all
# hardening on; no -g, the programs are stripped), under /usr, without the tests and benchmarks.
package: deps
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g && \
	cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DTRIDENT_BUILD_TESTS=OFF -DTRIDENT_BUILD_BENCH=OFF \
	  "-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  "-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	rm -f $(PACKAGE_DIR)/trident-updater_*.deb
	cd $(PACKAGE_DIR) && cpack -G DEB
	lintian --fail-on error,warning $(PACKAGE_DIR)/trident-updater_*.deb
	tests/package/check-deb $(PACKAGE_DIR)/trident-updater_*.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(PACKAGE_DIR)
