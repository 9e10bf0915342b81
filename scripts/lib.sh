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

# Where the tests run pure-ftpd and proftpd from (tests/support/ftp_server.cc).
TANDREL_PURE_FTPD_DIR=${TANDREL_PURE_FTPD_DIR:-/var/cache/tandrel-test/pure-ftpd}
TANDREL_PROFTPD_DIR=${TANDREL_PROFTPD_DIR:-/var/cache/tandrel-test/proftpd}

# Unpacks Debian packages into a folder with apt-get download and dpkg -x,
# once: tandrel_unpack FOLDER BINARY PACKAGE... (BINARY relative to FOLDER).
# The tests do the same when the folder is missing.
tandrel_unpack() {
  local folder=$1 binary=$2 work
  shift 2
  if [ -x "$folder/$binary" ]; then
    return 0
  fi
  work=$(mktemp -d)
  echo "Unpacking $1 into $folder"
  if ! (cd "$work" && tandrel_as_root apt-get download -q "$@"); then
    tandrel_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    (cd "$work" && tandrel_as_root apt-get download -q "$@")
  fi
  tandrel_as_root rm -rf "$folder.new"
  tandrel_as_root mkdir -p "$folder.new"
  local package
  for package in "$work"/*.deb; do
    tandrel_as_root dpkg -x "$package" "$folder.new"
  done
  tandrel_as_root rm -rf "$folder"
  tandrel_as_root mv "$folder.new" "$folder"
  tandrel_as_root rm -rf "$work"
}

tandrel_unpack_pure_ftpd() {
  tandrel_unpack "$TANDREL_PURE_FTPD_DIR" usr/sbin/pure-ftpd pure-ftpd
}

# proftpd-core needs libraries that are not installed with vsftpd; it runs
# with LD_LIBRARY_PATH pointing into the folder.
tandrel_unpack_proftpd() {
  tandrel_unpack "$TANDREL_PROFTPD_DIR" usr/sbin/proftpd proftpd-core libhashkit2 \
    libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3
}
