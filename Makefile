# make run   installs what is missing, builds Readsweeper.exe and starts it
#            under Wine in a demo folder.
# make test  installs what is missing, builds the native, sanitizer and
#            Windows configurations and runs every test (Windows ones under
#            Wine in a virtual display), and runs each fuzz target for
#            FUZZ_SECONDS seconds (default 20).
# make bench builds the native and Windows configurations and prints the
#            benchmark tables (bench/run); takes about nine minutes.
# make install builds readsweeper-cli alone (needs only cmake, make and g++)
#            and installs it with its man page under PREFIX (/usr/local).
# make dist  leaves the Windows zip and the Linux tarball in build/dist/.

CONFIGS := native native-asan native-tsan windows fuzz

PREFIX ?= /usr/local

.PHONY: all deps run test bench build $(CONFIGS) $(addprefix test-,$(CONFIGS)) release install dist clean

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

# The console program alone, optimised, without the tests and their packages;
# it needs no C++ library on the machine it is copied to, only the C library.
release:
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc" >/dev/null
	cmake --build build/release --target readsweeper-cli -j 2

install: release
	install -d $(DESTDIR)$(PREFIX)/bin $(DESTDIR)$(PREFIX)/share/man/man1
	install -m 755 -s build/release/cli/readsweeper-cli $(DESTDIR)$(PREFIX)/bin/readsweeper-cli
	install -m 644 cli/readsweeper-cli.1 $(DESTDIR)$(PREFIX)/share/man/man1/readsweeper-cli.1

dist: release windows
	tools/make-dist

run: windows
	READSWEEPER_DISPLAY=host tools/run-demo

clean:
	rm -rf build
