# The two set-up commands: `make run` and `make test` (see README.md).
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DEMO       := $(abspath $(BUILD)/demo-bbs)
# What `make run` runs: the program, its libraries (libwcsrv comes with
# both), the zip library it loads and the admin tool that builds the demo.
RUN_TARGETS := vtfilemgr vtfilemgr-cli dunzip wcsrv-admin

# Where `make install` puts the program (CMAKE_INSTALL_PREFIX=... says the
# same; DESTDIR=... stages it elsewhere).
CMAKE_INSTALL_PREFIX ?= /usr/local
PREFIX     ?= $(CMAKE_INSTALL_PREFIX)

.PHONY: deps build run test bench format install package

deps:
	@./tools/install-deps.sh

# The program only: tests build with `make test`, benchmarks with `make bench`.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_BUILD_TESTS=OFF
	cmake --build $(BUILD) -j$(JOBS) --target $(RUN_TARGETS)

run: build
	@if [ ! -e $(DEMO)/wcsrv.db ]; then $(BUILD)/bin/wcsrv-admin --home $(DEMO) demo; fi
	@if [ -x $(BUILD)/bin/vtfilemgr ]; then \
	  WCSRV_HOME=$(DEMO) $(BUILD)/bin/vtfilemgr; \
	else \
	  $(BUILD)/bin/wcsrv-admin --home $(DEMO) area list; \
	fi

# Installs the programs, libraries, help file, manual pages, desktop entry,
# bash completion and example units under PREFIX (GNUInstallDirs; DESTDIR
# honoured).
install: build
	cmake --build $(BUILD) -j$(JOBS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, build/vtfile_<version>_amd64.deb (cpack; installs
# under /usr). `sudo apt install ./build/vtfile_*_amd64.deb` installs it.
package: build
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && cpack -G DEB

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test; CTEST_ARGS adds options to ctest (CI asks for a JUnit report).
test: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=ON -DVT_BUILD_TESTS=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) $(CTEST_ARGS)

# Runs every benchmark, then fails when any missed its goal.
bench: build
	cmake --build $(BUILD) --target benches -j$(JOBS)
	@failed=""; for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b || failed="$$failed $$(basename $$b)"; done; \
	if [ -n "$$failed" ]; then echo "goal missed or failed:$$failed"; exit 1; fi

format:
	find app archive bench common config filter managers platform server tests \
	  \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i
