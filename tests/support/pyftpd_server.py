"""A pyftpdlib server for the tests: one user, bound to 127.0.0.1 only.

Run with Debian's /usr/bin/python3 (the one that has python3-pyftpdlib):
  pyftpd_server.py PORT ROOT USER PASSWORD IDLE_TIMEOUT PASSTHROUGH
                   [--rate BYTES_PER_SECOND]
                   [--tls CERTFILE KEYFILE [--drop-early-data-handshakes]]
IDLE_TIMEOUT 0 keeps pyftpdlib's default; PASSTHROUGH 1 keeps 8-bit name bytes.
--rate limits each data connection in both directions. --tls requires explicit
TLS (AUTH TLS, then PROT P) on the control and the data connections; it needs
python3-openssl. --drop-early-data-handshakes keeps pyftpdlib's own handling
of data connections, which drops those that libcurl opens.
"""

import asynchat
import logging
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, root, user, password = (int(sys.argv[1]), sys.argv[2], sys.argv[3],
                                  sys.argv[4])
    idle_timeout, passthrough = int(sys.argv[5]), sys.argv[6] == "1"
    rate, tls, drop_early = 0, None, False
    rest = sys.argv[7:]
    while rest:
        if rest[0] == "--rate":
            rate, rest = int(rest[1]), rest[2:]
        elif rest[0] == "--tls":
            tls, rest = (rest[1], rest[2]), rest[3:]
        elif rest[0] == "--drop-early-data-handshakes":
            drop_early, rest = True, rest[1:]
        else:
            sys.exit("unknown argument " + rest[0])

    # Logged names may hold bytes that are not UTF-8.
    sys.stdout.reconfigure(errors="backslashreplace")
    logging.basicConfig(level=logging.INFO, stream=sys.stdout,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    if tls:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        class HandshakingDTPHandler(TLS_DTPHandler):
            # libcurl starts the data connection's TLS handshake as soon as
            # it connects, before it sends the transfer command. pyftpdlib
            # 1.5.7 takes anything readable on a data connection that has no
            # transfer yet for a hang-up and closes it; let the handshake in.
            def readable(self):
                return self._ssl_accepting or super().readable()

        handler = TLS_FTPHandler
        dtp = TLS_DTPHandler if drop_early else HandshakingDTPHandler
        handler.certfile, handler.keyfile = tls
        handler.tls_control_required = True
        handler.tls_data_required = True
    else:
        handler, dtp = FTPHandler, DTPHandler
    if rate > 0:
        class Paced(ThrottledDTPHandler, dtp):
            """Moves no more than `rate` bytes a second, evenly.

            pyftpdlib's own throttling lets the first second's worth through
            at once and then sleeps in steps of seconds, so that an upload of
            a few MiB may finish at full speed.
            """
            read_limit = rate
            write_limit = rate
            _paced_since = None

            def _throttle_bandwidth(self, len_chunk, max_speed):
                now = time.monotonic()
                if self._paced_since is None:
                    self._paced_since = now
                self._datacount += len_chunk
                ahead = self._datacount / max_speed - (now - self._paced_since)
                if ahead <= 0.005:
                    return

                def wake():
                    self.add_channel(events=self.ioloop.READ if self.receive
                                     else self.ioloop.WRITE)

                self.del_channel()
                self._cancel_throttler()
                self._throttler = self.ioloop.call_later(
                    ahead, wake, _errback=self.handle_error)

        dtp = Paced
    handler.dtp_handler = dtp
    if passthrough:
        base = handler

        class PassThrough(base):
            # Replies carry names too (the directory after a CWD, an MLST
            # entry): they go out as the bytes that came in.
            def push(self, s):
                asynchat.async_chat.push(self, s.encode("utf8", self.unicode_errors))

        handler = PassThrough
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
