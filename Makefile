# Thin wrapper over CMake: `make run` shows the tool on the shipped example,
# `make test` builds and runs every test.
BUILD ?= build

.PHONY: all build run test clean

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)

run: build
	cd examples && ../$(BUILD)/prg; echo "(exit status $$?)"
	cat examples/output1k.txt

test: build
	cd $(BUILD) && ctest --output-on-failure

clean:
	rm -rf $(BUILD)
