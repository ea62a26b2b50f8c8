# make run   installs what is missing, builds Readsweeper.exe and starts it
#            under Wine in a demo folder.
# make test  installs what is missing, builds the native, sanitizer and
#            Windows configurations and runs every test (Windows ones under
#            Wine in a virtual display), and runs each fuzz target for
#            FUZZ_SECONDS seconds (default 20).
# make bench builds the native and Windows configurations and prints the
#            sampler benchmark table (bench/run); takes a few minutes.

CONFIGS := native native-asan native-tsan windows fuzz

.PHONY: all deps run test bench build $(CONFIGS) $(addprefix test-,$(CONFIGS)) clean

all: build

deps:
	@tools/install-deps.sh

build: $(CONFIGS)

$(CONFIGS): deps
	cmake --preset $@ >/dev/null
	cmake --build --preset $@

# Static pattern: a plain pattern rule is never searched for phony targets.
$(addprefix test-,$(CONFIGS)): test-%: %
	ctest --preset $*

test: deps
	$(MAKE) --no-print-directory test-native test-native-asan test-native-tsan test-windows test-fuzz

bench: native windows
	bench/run

run: windows
	READSWEEPER_DISPLAY=host tools/run-demo

clean:
	rm -rf build
