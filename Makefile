# Two commands set everything up on a fresh Debian 12 machine:
#   make run    installs what is missing, builds and starts Tarnlow
#   make test   installs what is missing, builds and runs the whole test suite
BUILD     ?= build
SAN_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
JOBS      ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test sanitize bench demo fuzz clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/tarnlow

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS) -LE bench

sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARNLOW_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS) -LE bench

bench: build
	tools/run-benchmarks.sh $(BUILD)

demo: build
	tools/demo.sh $(BUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNLOW_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	tools/run-fuzzers.sh $(FUZZ_BUILD) 30

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
