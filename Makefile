# The two commands a newcomer needs: `make run` and `make test`.
JOBS ?= $(shell nproc)
# The tests wait on wires, brokers and browsers about as long as they
# compute: two at a time a core keep the cores busy. A test that keeps a core
# busy from start to end counts as two (PROCESSORS 2 in tests/), so no more
# of those run at once than there are cores.
TEST_JOBS ?= $(shell echo $$(( 2 * $(JOBS) )))

.PHONY: all deps run test check tsan bench fuzz mutate package clean

all: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

deps:
	scripts/install-deps

# PORTA=/dev/ttyUSB0 runs against real hardware instead of the emulator.
run: all
	PORTA="$(PORTA)" scripts/run-letreiro build/release/bin

# The three Debian packages of the release build, in build/release.
package: all
	cmake --build --preset release --target package

test: deps
	cmake --preset test >/dev/null
	cmake --build --preset test -j $(JOBS)
	ctest --preset test -j $(TEST_JOBS)

# The fast loop: the unit tests only (pure logic, a few seconds).
check: deps
	cmake --preset test >/dev/null
	cmake --build --preset test -j $(JOBS)
	ctest --preset check -j $(JOBS)

# The port's worker and the service under ThreadSanitizer.
tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	scripts/run-bench build/bench

# Do the tests catch real faults? Single-point faults in the core, one at a
# time (build/mutate; a quarter of an hour on two cores).
mutate: deps
	scripts/mutate

fuzz:
	scripts/install-deps --extra
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzz build/fuzz $(or $(SECONDS),60)

clean:
	rm -rf build
