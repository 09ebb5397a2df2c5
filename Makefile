# Wayfarer: the two commands a new user needs are `make run` and `make test`.
# Both install what they need on a fresh Debian 12 machine first.

.PHONY: all setup run test windows fuzz bench tidy clean wine-stop

WINEPREFIX_DIR := $(CURDIR)/build/wineprefix
FUZZ_SECONDS ?= 600

all: windows

setup:
	@scripts/setup.sh

# The assistant's main job: the console checker runs the whole check sequence
# under Wine and prints every state change in the page's own words. Its exit
# code is the verdict (0 all in order, 1 a check failed, 2 a component needs
# attention, 3 both); only a failure to run at all fails this target.
# Arguments: make run ARGS="/fix /json"
ARGS ?= /check
run: setup
	@cmake --preset windows -Wno-dev >/dev/null
	@cmake --build --preset windows
	@status=0; scripts/wine-run.sh build/windows/app/wayfarer-cli.exe $(ARGS) || status=$$?; \
	WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k 2>/dev/null; \
	echo "make run: wayfarer-cli exited with $$status"; [ $$status -le 3 ]

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
	@build/bench/bench/hosts_bench

# clang-tidy's bugprone checks (also part of make test)
tidy: setup
	@cmake --preset native -Wno-dev >/dev/null && cmake --preset windows-test -Wno-dev >/dev/null
	@scripts/tidy.sh

wine-stop:
	@WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k 2>/dev/null || true

clean: wine-stop
	rm -rf build
