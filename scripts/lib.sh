# Shared by the scripts in this folder: sourced, not run.

# Runs a command as root: directly when we are root, through sudo otherwise.
tandrel_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

# Installs the Debian packages given that are not installed yet; runs
# apt-get update once, and only when something is missing.
tandrel_install_missing() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  tandrel_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  tandrel_as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What building and testing need on a fresh Debian 12.
TANDREL_BUILD_PACKAGES=(g++ cmake make pkg-config libcurl4-openssl-dev ca-certificates)
TANDREL_TEST_PACKAGES=(libgtest-dev googletest python3 python3-pyftpdlib vsftpd passwd
  groff man-db)
