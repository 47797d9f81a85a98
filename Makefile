# Builds, runs and tests Tilegrid. Every target installs missing Debian packages first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build run test install uninstall package docs sanitize bench-build bench fuzz format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

run: build
	build/bin/tilegrid

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

# Installs the program, its desktop entry and its icons under PREFIX (default /usr/local); DESTDIR
# stages the whole tree in another folder, as packaging does.
PREFIX ?=
install: build
	DESTDIR="$(DESTDIR)" cmake --install build --strip $(if $(PREFIX),--prefix "$(PREFIX)")

# Removes what the last install from this build listed in build/install_manifest.txt.
uninstall:
	DESTDIR="$(DESTDIR)" cmake -D MANIFEST=build/install_manifest.txt -P desktop/uninstall.cmake

# Builds tilegrid_<version>_amd64.deb in build/: what make install installs, under /usr.
package: build
	cd build && cpack -G DEB

# Writes docs/command-reference.md again from the command table (a test checks that it agrees).
docs: build
	cmake --build build --target docs

sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTILEGRID_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS) -LE e2e

# Builds the benchmarks without running them (CI does this, so that they keep compiling).
bench-build: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTILEGRID_TESTS=OFF -DTILEGRID_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)

bench: bench-build
	@for b in build-bench/bin/bench_*; do echo "== $$b"; $$b --benchmark_counters_tabular=true || exit 1; done

FUZZ_SECONDS ?= 120
# Each fuzzer runs from its committed seeds plus what earlier runs found; a crash, leak, timeout or
# failed check stops make with an error and leaves the input in build-fuzz/artifacts/.
fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILEGRID_TESTS=OFF -DTILEGRID_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@for f in build-fuzz/bin/fuzz_*; do \
		name=$$(basename $$f); mkdir -p build-fuzz/corpus/$$name build-fuzz/artifacts/$$name; \
		echo "== $$name for $(FUZZ_SECONDS) s"; \
		dict=""; [ -f fuzz/$$name.dict ] && dict=-dict=fuzz/$$name.dict; \
		$$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 -timeout=30 -print_final_stats=1 \
			-artifact_prefix=build-fuzz/artifacts/$$name/ $$dict \
			build-fuzz/corpus/$$name fuzz/seeds/$$name || exit 1; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-sanitize build-bench build-fuzz
