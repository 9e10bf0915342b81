"""A pyftpdlib server for the tests: one user, bound to 127.0.0.1 only.

Run with Debian's /usr/bin/python3 (the one that has python3-pyftpdlib):
  pyftpd_server.py PORT ROOT USER PASSWORD IDLE_TIMEOUT PASSTHROUGH
IDLE_TIMEOUT 0 keeps pyftpdlib's default; PASSTHROUGH 1 keeps 8-bit name bytes.
"""

import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, root, user, password = (int(sys.argv[1]), sys.argv[2], sys.argv[3],
                                  sys.argv[4])
    idle_timeout, passthrough = int(sys.argv[5]), sys.argv[6] == "1"

    logging.basicConfig(level=logging.INFO, stream=sys.stdout,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "tandrel test server ready."
    if idle_timeout > 0:
        handler.timeout = idle_timeout
    if passthrough:
        # Names arrive as raw bytes; surrogateescape carries bytes that are not
        # UTF-8 through to the file system and back into the listings.
        handler.unicode_errors = "surrogateescape"

    server = FTPServer(("127.0.0.1", port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
