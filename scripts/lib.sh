# Shared set-up of scripts/test and scripts/run: installs the missing
# packages of scripts/deps. Sourced, not run.

repo_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

missing_packages() {
  local root pkg
  root=$(repo_root)
  while read -r pkg; do
    pkg=${pkg%%#*}
    pkg=$(echo "$pkg" | tr -d '[:space:]')
    [ -z "$pkg" ] && continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$pkg"
    fi
  done < "$root/scripts/deps"
}

install_deps() {
  local missing
  missing=$(missing_packages | tr '\n' ' ')
  [ -z "${missing// /}" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: $missing" >&2
    echo "Install them first:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends $missing" >&2
    exit 1
  fi
  echo "Installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y --no-install-recommends $missing; then
    apt-get update && apt-get install -y --no-install-recommends $missing
  fi
}

build_preset() {
  local preset=$1
  cmake --preset "$preset" && cmake --build --preset "$preset"
}
