# The two commands of the quick start: `make demo` and `make test`.
# Each first makes sure the Debian packages the project needs are present.

PACKAGES := build-essential cmake ninja-build pkg-config gcc g++ clang libclang-rt-14-dev \
            libgtest-dev libbenchmark-dev zlib1g-dev libminizip-dev \
            libicu-dev libsqlite3-dev liblapack-dev gzip zip unzip file python3 \
            python3-mpmath python3-ezdxf

.PHONY: all deps build build-asan demo test test-default test-asan bench clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:" $$missing; \
	    DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing Debian packages. Run as root:"; \
	    echo "  apt-get install -y --no-install-recommends" $$missing; \
	    exit 1; \
	  fi; \
	fi

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan

# The tour needs only the library and the tool.
demo: deps
	cmake --preset default >/dev/null
	cmake --build --preset default --target tesmar_cli
	@sh tools/demo.sh build/default

test-default: build
	ctest --preset default

test-asan: build-asan
	ctest --preset asan

test: test-default test-asan

# The benchmarks' peers beyond the test packages: OCCT's IGES reader (bench/translate.sh).
BENCH_PACKAGES := libocct-data-exchange-dev bc time

bench: build
	@$(MAKE) --no-print-directory deps PACKAGES="$(BENCH_PACKAGES)"
	cmake --preset default >/dev/null && cmake --build --preset default
	@sh bench/run.sh build/default
	@sh bench/translate.sh build/default

clean:
	rm -rf build
