"""A pyftpdlib server for the tests: one user, bound to 127.0.0.1 only.

Run with Debian's /usr/bin/python3 (the one that has python3-pyftpdlib):
  pyftpd_server.py PORT ROOT USER PASSWORD IDLE_TIMEOUT PASSTHROUGH
                   [--rate BYTES_PER_SECOND]
                   [--tls CERTFILE KEYFILE [--drop-early-data-handshakes]]
                   [--faults FILE] [--threaded]
IDLE_TIMEOUT 0 keeps pyftpdlib's default; PASSTHROUGH 1 keeps 8-bit name bytes.
--rate limits each data connection in both directions. --tls requires explicit
TLS (AUTH TLS, then PROT P) on the control and the data connections; it needs
python3-openssl. --drop-early-data-handshakes keeps pyftpdlib's own handling
of data connections, which drops those that libcurl opens.
--threaded serves each connection in a thread of its own (two clients at once,
one of them waiting on a slow reply). --faults names a JSON file of faults,
read again whenever it changes, so a test can arm faults between runs:
  {"rules": [RULE, ...],       # checked in order before every command
   "list_lines": ["raw", ...],  # appended to every LIST (bytes as latin-1)
   "no_mlsx": true,             # no MLSD/MLST: FEAT stops offering them
   "no_rename_over": true,      # RNTO onto an existing name: 550
   "mlsx_facts": ["size", ...]} # MLSD/MLST facts sent (e.g. without modify)
A RULE: {"cmd": "CWD" ("*": any command), "match": REGEX on the argument as
  sent (optional),
  "after": N matches let through first (0), "times": N failures (1; -1 every),
  "action": one of
    "reply"    answer "reply" (default "550 Injected failure.") instead,
    "close"    close the control connection without a reply,
    "delay"    wait "seconds", then carry out the command,
    "reset"    carry out RETR/STOR/LIST but break the data connection with a
               426 reply once "bytes" bytes have moved,
    "truncate" carry out STOR, then keep only "bytes" bytes of the file,
    "kill"     SIGKILL the client process (found by its end of the control
               connection) before the command is carried out: it dies right
               after the reply to its previous command,
    "none"     carry out the command (marks it in the log, for counting)}.
The log says "injected ACTION CMD ARG" for every fault that fired.
"""

import asynchat
import json
import logging
import os
import re
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer, ThreadedFTPServer


class Faults:
    """The faults file, read again when it changes; counts matches per rule."""

    def __init__(self, path):
        self.path, self.stamp, self.config, self.seen = path, None, {}, []

    def current(self):
        try:
            st = os.stat(self.path)
            stamp = (st.st_mtime_ns, st.st_size, st.st_ino)
        except OSError:
            stamp = None
        if stamp != self.stamp:
            self.stamp = stamp
            try:
                with open(self.path, encoding="utf-8") as f:
                    self.config = json.load(f)
            except (OSError, ValueError):
                self.config = {}
            self.seen = [0] * len(self.config.get("rules", []))
        return self.config

    def fire(self, cmd, arg):
        """The rule that fires for this command, or None."""
        for i, rule in enumerate(self.current().get("rules", [])):
            if rule.get("cmd", "").upper() not in (cmd, "*"):
                continue
            if "match" in rule and not re.search(rule["match"], arg or ""):
                continue
            self.seen[i] += 1
            n = self.seen[i] - rule.get("after", 0)
            times = rule.get("times", 1)
            if n >= 1 and (times < 0 or n <= times):
                return rule
        return None


def client_pid(port):
    """The process whose TCP socket on 127.0.0.1 has local port `port`."""
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                for line in f.readlines()[1:]:
                    fields = line.split()
                    if int(fields[1].split(":")[1], 16) == port:
                        inodes.add("socket:[%s]" % fields[9])
        except OSError:
            pass
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if int(pid) == os.getpid():
            continue
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) in inodes:
                    return int(pid)
        except OSError:
            continue
    return None


def with_faults(handler, dtp, faults):
    """Subclasses of the handlers that act on the faults file."""

    class FaultyDTP(dtp):
        def _reset(self):
            self.cmd_channel._reset_after = None
            self._resp = ("426 Injected: connection reset.", logging.info)
            self.close()

        def send(self, data):
            limit = self.cmd_channel._reset_after
            if limit is not None:
                room = limit - self.get_transmitted_bytes()
                if room <= 0:
                    self._reset()
                    return 0
                data = data[:room]
            return super().send(data)

        def handle_read(self):
            super().handle_read()
            limit = self.cmd_channel._reset_after
            if limit is not None and self.get_transmitted_bytes() >= limit:
                self._reset()

    class FaultyHandler(handler):
        _reset_after = None
        _truncate_to = None
        use_sendfile = False  # every byte sent goes through FaultyDTP.send

        def on_connect(self):
            config = faults.current()
            if config.get("no_mlsx"):
                self.proto_cmds = {k: v for k, v in self.proto_cmds.items()
                                   if k not in ("MLSD", "MLST")}
            if "mlsx_facts" in config:
                self._current_facts = list(config["mlsx_facts"])
                self._available_facts = list(config["mlsx_facts"])

        def pre_process_command(self, line, cmd, arg):
            rule = faults.fire(cmd, arg)
            if (rule is None and cmd == "RNTO" and arg and
                    faults.current().get("no_rename_over")):
                try:
                    taken = self.fs.lexists(self.fs.ftp2fs(arg))
                except Exception:
                    taken = False
                if taken:
                    self.respond("550 Refused: the name is taken.")
                    return
            if rule is None:
                return super().pre_process_command(line, cmd, arg)
            action = rule.get("action", "reply")
            logging.info("injected %s %s %s", action, cmd, arg)
            if action == "reply":
                self.respond(rule.get("reply", "550 Injected failure."))
            elif action == "close":
                self.close()
            elif action == "kill":
                pid = client_pid(self.remote_port)
                if pid:
                    os.kill(pid, 9)
                self.close()
            else:
                if action == "delay":
                    time.sleep(rule.get("seconds", 1))
                elif action == "reset":
                    self._reset_after = rule.get("bytes", 0)
                elif action == "truncate":
                    self._truncate_to = rule.get("bytes", 0)
                super().pre_process_command(line, cmd, arg)

        def on_file_received(self, file):
            if self._truncate_to is not None:
                os.truncate(file, self._truncate_to)
                self._truncate_to = None
            super().on_file_received(file)

    class FaultyFS(handler.abstracted_fs):
        def format_list(self, basedir, listing, ignore_err=True):
            yield from super().format_list(basedir, listing, ignore_err)
            for line in faults.current().get("list_lines", []):
                yield line.encode("latin-1") + b"\r\n"

    FaultyHandler.abstracted_fs = FaultyFS
    FaultyHandler.dtp_handler = FaultyDTP
    return FaultyHandler


def main():
    port, root, user, password = (int(sys.argv[1]), sys.argv[2], sys.argv[3],
                                  sys.argv[4])
    idle_timeout, passthrough = int(sys.argv[5]), sys.argv[6] == "1"
    rate, tls, drop_early, faults, threaded = 0, None, False, None, False
    rest = sys.argv[7:]
    while rest:
        if rest[0] == "--rate":
            rate, rest = int(rest[1]), rest[2:]
        elif rest[0] == "--tls":
            tls, rest = (rest[1], rest[2]), rest[3:]
        elif rest[0] == "--drop-early-data-handshakes":
            drop_early, rest = True, rest[1:]
        elif rest[0] == "--faults":
            faults, rest = Faults(rest[1]), rest[2:]
        elif rest[0] == "--threaded":
            threaded, rest = True, rest[1:]
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
    if faults:
        handler = with_faults(handler, handler.dtp_handler, faults)
    handler.authorizer = authorizer
    handler.banner = "tandrel test server ready."
    if idle_timeout > 0:
        handler.timeout = idle_timeout
    if passthrough:
        # Names arrive as raw bytes; surrogateescape carries bytes that are not
        # UTF-8 through to the file system and back into the listings.
        handler.unicode_errors = "surrogateescape"

    server = (ThreadedFTPServer if threaded else FTPServer)(("127.0.0.1", port),
                                                          handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
