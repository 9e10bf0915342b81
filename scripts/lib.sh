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

# What the TLS tests need: openssl makes their CA and certificates, and
# pyftpdlib's TLS handler needs python3-openssl. pure-ftpd's libraries come in
# as packages of their own; pure-ftpd itself cannot be installed beside vsftpd
# (both "Conflicts: ftp-server").
TANDREL_TEST_PACKAGES+=(openssl python3-openssl libsodium23 libcap2 libpam0g)

# Where the tests run pure-ftpd from (tests/support/ftp_server.cc).
TANDREL_PURE_FTPD_DIR=/var/cache/tandrel-test/pure-ftpd

# Unpacks Debian's pure-ftpd into TANDREL_PURE_FTPD_DIR with apt-get download
# and dpkg -x, once. The tests do the same when the folder is missing.
tandrel_unpack_pure_ftpd() {
  if [ -x "$TANDREL_PURE_FTPD_DIR/usr/sbin/pure-ftpd" ]; then
    return 0
  fi
  local work
  work=$(mktemp -d)
  echo "Unpacking pure-ftpd into $TANDREL_PURE_FTPD_DIR"
  if ! (cd "$work" && tandrel_as_root apt-get download -q pure-ftpd); then
    tandrel_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    (cd "$work" && tandrel_as_root apt-get download -q pure-ftpd)
  fi
  tandrel_as_root rm -rf "$TANDREL_PURE_FTPD_DIR.new"
  tandrel_as_root mkdir -p "$TANDREL_PURE_FTPD_DIR.new"
  tandrel_as_root dpkg -x "$work"/pure-ftpd_*.deb "$TANDREL_PURE_FTPD_DIR.new"
  tandrel_as_root rm -rf "$TANDREL_PURE_FTPD_DIR"
  tandrel_as_root mv "$TANDREL_PURE_FTPD_DIR.new" "$TANDREL_PURE_FTPD_DIR"
  tandrel_as_root rm -rf "$work"
}
