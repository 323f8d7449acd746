#!/usr/bin/env bash
# The project's two jobs on a Debian 12 machine, as root:
#   scripts/dev.sh demo   build the tool; show the demo machine, the sample image, the verdict and the environment checks
#   scripts/dev.sh test   build the host, sanitizer and Windows builds and run every test, then run the
#                         built ORRIVANE.DLL under the emulator against the host builds
#   scripts/dev.sh package  the Windows ZIP and the tool's Debian package, in build/packages
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake make g++ pkg-config python3 googletest libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev liblhasa-dev lhasa g++-mingw-w64-i686 binutils-mingw-w64-i686
          clang libclang-rt-14-dev clang-tidy-14 llvm-14 lld-14 dpkg-dev libunicorn-dev)
JOBS=$(nproc)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

build() {  # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$JOBS"
}

case "${1:-}" in
  demo)
    install_packages
    mkdir -p build
    if ! build host-release >build/demo-build.log 2>&1; then
      cat build/demo-build.log >&2
      exit 1
    fi
    tool=build/host-release/tools/orrivane
    image=build/host-release/samples/demo-image.bin
    set -x
    "$tool" machine
    "$tool" image "$image"
    "$tool" check "$image"
    "$tool" env --acpi PNP0C14
    ;;
  test)
    install_packages
    for preset in host host-asan win32; do
      echo "== $preset"
      build "$preset"
      ctest --preset "$preset" -j "$JOBS"
    done
    # Needs the DLL the win32 build just made.
    for preset in host-dll host-asan-dll; do
      echo "== $preset"
      ctest --preset "$preset" -j "$JOBS"
    done
    ;;
  package)
    install_packages
    mkdir -p build/packages
    for preset in win32 host-release; do
      echo "== $preset"
      build "$preset"
      cpack --config "build/$preset/CPackConfig.cmake" -B build/packages
    done
    ls -l build/packages/*.zip build/packages/*.deb
    ;;
  *)
    echo "usage: $0 demo|test|package" >&2
    exit 2
    ;;
esac
