# The two set-up commands: `make run` and `make test` (see README.md).
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DEMO       := $(abspath $(BUILD)/demo-bbs)

.PHONY: deps build run test bench format

deps:
	@./tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

run: build
	@if [ ! -e $(DEMO)/wcsrv.db ]; then $(BUILD)/bin/wcsrv-admin --home $(DEMO) demo; fi
	@if [ -x $(BUILD)/bin/vtfilemgr ]; then \
	  WCSRV_HOME=$(DEMO) $(BUILD)/bin/vtfilemgr; \
	else \
	  $(BUILD)/bin/wcsrv-admin --home $(DEMO) area list; \
	fi

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test; CTEST_ARGS adds options to ctest (CI asks for a JUnit report).
test: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) $(CTEST_ARGS)

bench: build
	cmake --build $(BUILD) --target benches -j$(JOBS)
	@set -e; for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b; done

format:
	find app archive bench common config filter managers platform server tests \
	  \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i
