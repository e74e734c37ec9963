# Thin wrapper over CMake: `make run` shows the tool on the shipped example,
# `make test` builds and runs every test.
BUILD ?= build

PREFIX ?= /usr/local

.PHONY: all configure build run test install clean coverage

all: build

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD)

# Only the tool: a new user sees the example run without waiting for the tests.
run: configure
	cmake --build $(BUILD) --target prg
	cd examples && ../$(BUILD)/prg; status=$$?; echo; echo "(exit status $$status)"
	cat examples/output1k.txt

test: build
	@test -f $(BUILD)/prg_tests || { echo "make test: GoogleTest was not found, so no test was built;" \
	  "install it (apt-get install libgtest-dev) and run make test again"; exit 1; }
	cd $(BUILD) && ctest --output-on-failure
	@{ node --version && test -d bench/node_modules/@duckdb/node-api; } > /dev/null 2>&1 || echo \
	  "make test: the test of join.sql was skipped: it runs DuckDB, which cd bench && npm ci installs"

# The tool and its manual page alone, not the tests: into $(PREFIX), under $(DESTDIR)
# for a staged install.
install: configure
	cmake --build $(BUILD) --target prg manual_page
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD)

# Line and branch coverage of src/ by the tests (needs gcovr).
coverage:
	cmake -S . -B build-coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPRG_COVERAGE=ON
	cmake --build build-coverage
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && ctest --output-on-failure
	gcovr -r . --object-directory build-coverage --filter 'src/' --exclude-throw-branches \
	  --exclude-unreachable-branches --print-summary
	gcovr -r . --object-directory build-coverage --filter 'src/' --exclude-throw-branches \
	  --exclude-unreachable-branches --branches | tail -n 3
