# Wayfarer: the two commands a new user needs are `make run` and `make test`.
# Both install what they need on a fresh Debian 12 machine first.

.PHONY: all setup run test windows fuzz bench tidy clean wine-stop

WINEPREFIX_DIR := $(CURDIR)/build/wineprefix
FUZZ_SECONDS ?= 600

all: windows

setup:
	@scripts/setup.sh

# The assistant's main job. Until the console checker lands, this builds the
# Windows programs and runs the Windows test programs under Wine instead.
run: setup
	@cmake --preset windows-test -Wno-dev >/dev/null
	@cmake --build --preset windows-test
	@echo "make run: the console checker is not built yet; running the Windows tests under Wine instead."
	@status=0; for t in build/windows-test/tests/*/*_tests.exe; do \
	    echo "== $$t"; scripts/wine-run.sh "$$t" || status=1; done; \
	WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k 2>/dev/null; exit $$status

# Every suite: native (sanitizers), Windows under Wine, fuzz smoke, benchmark
# smoke, the release build. Ends with "N passed, N failed, N skipped".
test: setup
	@scripts/test-all.sh

windows: setup
	@cmake --preset windows -Wno-dev >/dev/null
	@cmake --build --preset windows

# Longer fuzzing: make fuzz FUZZ_SECONDS=3600
fuzz: setup
	@cmake --preset fuzz -Wno-dev -DWAYFARER_FUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null
	@cmake --build --preset fuzz
	@ctest --preset fuzz -j2

bench: setup
	@cmake --preset bench -Wno-dev >/dev/null
	@cmake --build --preset bench
	@build/bench/bench/xml_bench

# clang-tidy's bugprone checks (also part of make test)
tidy: setup
	@cmake --preset native -Wno-dev >/dev/null && cmake --preset windows-test -Wno-dev >/dev/null
	@scripts/tidy.sh

wine-stop:
	@WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k 2>/dev/null || true

clean: wine-stop
	rm -rf build
