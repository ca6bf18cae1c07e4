# Shared by the scripts: repository root, package installation, configure+build.
# Sourced, not run.

HW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
HW_JOBS="${HW_JOBS:-$(nproc)}"

# Packages every build needs; the test and fuzz scripts add their own.
HW_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev
  libbenchmark-dev nlohmann-json3-dev libcli11-dev libsndfile1-dev libpulse-dev libboost-dev)

hw_log() { echo "[$(basename "$0")] $*" >&2; }

# Installs the Debian packages among "$@" that are missing.
hw_ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  hw_log "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# hw_build PRESET [TARGET...]: configures (once) and builds with that preset.
hw_build() {
  local preset="$1"
  shift
  (cd "$HW_ROOT" && cmake --preset "$preset" >/dev/null) || return 1
  if [ $# -gt 0 ]; then
    local t args=()
    for t in "$@"; do args+=(--target "$t"); done
    cmake --build "$HW_ROOT/build/$preset" -j "$HW_JOBS" "${args[@]}"
  else
    cmake --build "$HW_ROOT/build/$preset" -j "$HW_JOBS"
  fi
}
