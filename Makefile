# The two commands a user needs: `make run` and `make test`. Both install what is missing
# from Debian first, then configure and build into build/.

BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

PACKAGES := cmake ninja-build g++ pkg-config \
	libsdl1.2-dev libgl-dev libglu1-mesa-dev libegl-dev libegl-mesa0 libgl1-mesa-dri \
	zlib1g-dev libmpg123-dev libmp3lame-dev libpng-dev libgtest-dev \
	libx11-dev ffmpeg xvfb xauth xdotool librsvg2-bin mesa-utils python3 zip

# The browser build: emscripten (with its node) from Debian, bzip2 to unpack zlib's sources;
# chromium and Firefox for its test.
WEB_PACKAGES := emscripten bzip2
WEB_TEST_PACKAGES := chromium firefox-esr
WEB_PORT ?= 8080

# The Windows build: Debian's mingw-w64 and its zlib; Wine (64-bit) and xwd for its test.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev make bzip2
WINDOWS_TEST_PACKAGES := wine wine64 x11-apps

# The Debian package, its checks, and the release's reproducibility.
PACKAGE_PACKAGES := debhelper lintian devscripts desktop-file-utils appstream \
	diffoscope-minimal strip-nondeterminism git
PREFIX ?= /usr/local
DESTDIR ?=

FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_SECONDS ?= 600

.PHONY: all deps build data run test web serve-web test-web windows test-windows test-asan sanitize fuzz \
	install deb test-package release check-reproducible video clean

all: build

deps:
	@tools/install-deps.sh $(PACKAGES)

CONFIGURE = cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps
	$(CONFIGURE)
	cmake --build build

# The data alone (archive, soundtrack and the synthesiser): all that the Windows build, and
# with qm-capture the browser build and so the release, take from the native build.
data: deps
	$(CONFIGURE)
	cmake --build build --target qm_data

# Full screen at the desktop's resolution on a GPU, at 640 x 480 on a software rasteriser;
# SIZE=WxH (or desktop) chooses.
SIZE ?=
run: build
	SIZE=$(SIZE) apps/demo/run.sh

test: build
	cd build && ctest --output-on-failure --timeout 600

# The browser build in build-web/ (the native build makes its data), served on 127.0.0.1 and
# tested in chromium and Firefox (WEB_BROWSERS=chromium for one) against qm-capture's frames.
# Its data and qm-capture, which renders the seek bar's previews, are all it needs of build/.
web: data
	cmake --build build --target qm-capture
	@tools/install-deps.sh $(WEB_PACKAGES)
	apps/web/build.sh

serve-web: web
	node apps/web/serve.js build-web --port $(WEB_PORT)

test-web: build web
	@tools/install-deps.sh $(WEB_TEST_PACKAGES)
	tests/web/run.sh

# The Windows zip in build-windows/ (the native build makes its data), tested under Wine.
windows: data
	@tools/install-deps.sh $(WINDOWS_PACKAGES)
	apps/windows/build.sh

test-windows: build windows
	@tools/install-deps.sh $(WINDOWS_TEST_PACKAGES)
	tests/windows/run.sh

# Installs as Debian lays out games, under PREFIX (default /usr/local) within DESTDIR.
install: build
	cmake -S . -B build -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build build
	DESTDIR=$(DESTDIR) cmake --install build

# The Debian package, in build-deb/, and its checks: lintian, install, play, remove.
deb: deps
	@tools/install-deps.sh $(PACKAGE_PACKAGES)
	tools/release/deb.sh

test-package: build deb
	tests/package/run.sh

# dist/: the .deb, the Windows zip, the browser build's zip and SHA256SUMS, every byte the same
# for the same commit. check-reproducible builds it twice from clean clones and compares.
release: deb windows web
	tools/release/release.sh

check-reproducible: deps
	@tools/install-deps.sh $(PACKAGE_PACKAGES) $(WEB_PACKAGES) $(WINDOWS_PACKAGES)
	tools/release/check-reproducible.sh

# dist/quiet_moss-<version>-1080p.mp4: the whole demo at 1920 x 1080 for video sites, its index
# at the front so that it plays from the first byte. Takes about an hour here; not in CI.
video: build
	tools/release/video.sh

# CI's sanitizer step: the unit and render suites under ASan+UBSan in build-asan/, so that a
# read out of range fails the run.
test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address
	cmake --build build-asan
	cd build-asan && ctest -L 'unit|render' -j2 --output-on-failure --timeout 900

# ASan+UBSan build and a TSan build, each running the whole test suite.
sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address
	cmake --build build-asan
	cd build-asan && ctest --output-on-failure --timeout 900
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread
	cmake --build build-tsan
	cd build-tsan && ctest --output-on-failure --timeout 900

# A libFuzzer campaign over the archive reader and decoders (clang only).
fuzz: deps
	@tools/install-deps.sh $(FUZZ_PACKAGES)
	FUZZ_SECONDS=$(FUZZ_SECONDS) tests/fuzz/run.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz build-web build-windows build-deb build-reproducible dist
