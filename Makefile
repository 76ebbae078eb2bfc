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

# --- Tray program: install lines ---
# make install [PREFIX=/usr/local] [DESTDIR=...]: tokvane and tokvane-security
# in bin/, the menu entry with the tokvane: address scheme, the D-Bus service
# file and the icons.
PREFIX ?= /usr/local
.PHONY: install-tokvane
install: install-tokvane
install-tokvane: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build -j$$(nproc) --target tokvane tokvane-security
	cmake --install build
	desktop-file-validate "$(DESTDIR)$(PREFIX)/share/applications/app.tokvane.Tokvane.desktop"
	-[ -n "$(DESTDIR)" ] || update-desktop-database "$(PREFIX)/share/applications" 2>/dev/null
# --- end of tray program ---
