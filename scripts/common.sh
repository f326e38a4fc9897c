# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# Sourced, not run.

quarry_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build, the tests and the program need.
quarry_packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev fonts-wqy-microhei qt6-translations-l10n
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  nginx-light curl wget aria2 libpcre2-dev python3
  nlohmann-json3-dev libxml2-dev openssl libssl-dev ca-certificates
  libpsl-dev publicsuffix
  libjpeg-dev libpng-dev libgif-dev libwebp-dev libstb-dev
  desktop-file-utils groff-base
  tinyproxy dante-server
)

# Installs only the packages that are not installed yet, so a warm machine pays nothing.
ensure_packages() {
  local missing=()
  local package
  for package in "${quarry_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# build_tree DIR [CMAKE OPTIONS...]: configures DIR once, then builds it incrementally.
build_tree() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$quarry_root" -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" -j "$(nproc)"
}
