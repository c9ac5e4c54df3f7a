# The project's commands. CMake does the work; these targets only put the steps in order.
#   make run    install what is missing, build, start the demo (update server, virtual board, window)
#   make test   install what is missing, build, run every test
#   make bench  build and run the benchmarks
#   make package  build the Debian package from a Release build in $(PACKAGE_DIR) and check it
#   make sanitize  build with AddressSanitizer and UndefinedBehaviorSanitizer, run every test
#   make test-clang  build in Release with clang (thread-safety analysis on), run every test
#   make tsan   build with clang's ThreadSanitizer, run every test
#   make fuzz   build the fuzz targets with clang, run each for FUZZ_SECONDS
#   make format-check  refuse a tracked *.cpp or *.h file that `make format` would change
#   make check-layers  refuse an include under src/ that reaches a layer above its own (make test runs it too)

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
# Our own builds know their compiler, so a warning is an error there.
WERROR ?= ON
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGE_DIR ?= build-package
SANITIZE_DIR ?= build-asan
SANITIZERS ?= address,undefined
CLANG_DIR ?= build-clang
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
# The formatter CI checks with (clang-format 14, Debian 12's): another version may lay out differently.
CLANG_FORMAT ?= clang-format

# Any sanitizer report fails the test that triggered it; leaks count. The programs the tests start
# (the virtual board) may be killed before they could fail a test, so every report is written to
# SANITIZE_REPORTS, and one file there fails the run.
SANITIZE_REPORTS = $(CURDIR)/$(SANITIZE_DIR)/sanitizer-reports
SANITIZE_ENV = \
  ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$(SANITIZE_REPORTS)/asan \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(SANITIZE_REPORTS)/ubsan
# The same for ThreadSanitizer: a race fails the test, and its report stays in TSAN_REPORTS.
TSAN_REPORTS = $(CURDIR)/$(TSAN_DIR)/sanitizer-reports
# Debian's Qt, GLib and umockdev are not built for it; tests/tsan-suppressions.txt says how they are
# left out.
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:log_path=$(TSAN_REPORTS)/tsan:suppressions=$(CURDIR)/tests/tsan-suppressions.txt

.PHONY: all deps configure build run test test-clang tsan bench package sanitize fuzz format format-check check-layers \
  clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DTRIDENT_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run-demo $(BUILD_DIR)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --timeout 600

# A second compiler and the optimiser's full strength find what the everyday build does not.
test-clang: deps
	cmake -S . -B $(CLANG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
	  -DTRIDENT_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(CLANG_DIR) -j $(JOBS)
	ctest --test-dir $(CLANG_DIR) --output-on-failure -j $(JOBS) --timeout 600

bench: build
	$(BUILD_DIR)/bench/trident_engine_bench
	$(BUILD_DIR)/bench/trident_window_bench
	bench/flash-largest-update $(BUILD_DIR)
	bench/usb-latency $(BUILD_DIR)
	bench/several-boards $(BUILD_DIR)

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

# Builds in $(1) with the cmake flags $(2), then runs every test with the environment $(4): any
# report written to the folder $(3) fails the run, whatever the tests said.
define sanitized-suite
	cmake -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRIDENT_BUILD_BENCH=OFF \
	  -DTRIDENT_WERROR=$(WERROR) $(2) $(CMAKE_FLAGS)
	cmake --build $(1) -j $(JOBS)
	rm -rf $(3) && mkdir -p $(3)
	$(4) ctest --test-dir $(1) --output-on-failure -j $(JOBS) --timeout 900; \
	  status=$$?; \
	  if [ -n "$$(ls -A $(3))" ]; then \
	    cat $(3)/*; echo "$@: reports in $(3)"; exit 1; \
	  fi; \
	  exit $$status
endef

sanitize: deps
	$(call sanitized-suite,$(SANITIZE_DIR),-DTRIDENT_SANITIZE=$(SANITIZERS),$(SANITIZE_REPORTS),$(SANITIZE_ENV))

# Every test again under clang's ThreadSanitizer: the HID I/O thread, the transfer threads and the
# loop lent to another thread meet the engine only where a lock or a hand-over says so.
tsan: deps
	$(call sanitized-suite,$(TSAN_DIR),-DCMAKE_CXX_COMPILER=clang++ -DTRIDENT_SANITIZE=thread,$(TSAN_REPORTS),$(TSAN_ENV))

fuzz: deps
	@FUZZ_DIR=$(FUZZ_DIR) JOBS=$(JOBS) scripts/run-fuzzers $(FUZZ_SECONDS)

# common <- records <- engine <- hid, update <- ui, cli <- app: no include reaches up or sideways.
check-layers:
	scripts/check-layers

format:
	git ls-files -z '*.cpp' '*.h' | xargs -0 $(CLANG_FORMAT) -i

# Names each line that `make format` would change, and fails.
format-check:
	git ls-files -z '*.cpp' '*.h' | xargs -0 $(CLANG_FORMAT) --dry-run --Werror

clean:
	rm -rf $(BUILD_DIR) $(PACKAGE_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(CLANG_DIR) $(TSAN_DIR)
