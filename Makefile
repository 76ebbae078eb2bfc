# One entry for set-up, build and tests on a fresh Debian 12 machine (as root).
.PHONY: test build deps bench clean run screenshots

test: deps
	scripts/test-all

deps:
	scripts/install-deps

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$$(nproc)

bench: deps
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTOKVANE_BUILD_TESTS=OFF
	cmake --build build-release -j$$(nproc)

clean:
	rm -rf build build-clang build-asan build-tsan build-fuzz build-release

# Builds and starts the tray program in this session (xcb when DISPLAY is set
# and no platform was chosen).
run: build
	@if [ -n "$$DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then export QT_QPA_PLATFORM=xcb; fi; \
	  exec build/bin/tokvane

# Renders every window, tab and state, light and dark, into docs/screenshots/.
screenshots: build
	build/bin/tokvane-screenshots docs/screenshots

# --- Desktop widgets: install lines (kept apart for easy merging) ---
.PHONY: install install-widgets
install: install-widgets
install-widgets: build
	scripts/install-widgets build
# --- end of desktop widgets ---
