#!/usr/bin/env python3
"""Hostile clients for the portal benchmark, loopback only, for a bounded time.

  attackers.py PORT SECONDS [SLOW] [READERS]

SLOW connections (default 2000) send a request head one byte every 3 s, spread over
source addresses 127.0.0.10 and up, 200 per address; READERS clients (default 2) from
127.0.0.30 pipeline requests for the site list and never read a reply. What the portal
closes is opened again (at most 400 a second), so the crowd stays attached. Prints
"ready" once all are connected, and a summary on stderr when the time is up or on SIGTERM.
"""
import resource
import selectors
import signal
import socket
import sys
import time

PER_ADDRESS = 200
TRICKLE_EVERY = 3.0
REOPEN_PER_SECOND = 400
ESTABLISHED = 1  # tcpi_state of an open connection
HEAD = b"GET /tad/version.htm HTTP/1.1\r\nHost: portal.example\r\nX-Slow: "
READER_REQUEST = (b"GET /tad/tad_available.asp?t=1&userid=2026120612000012345 HTTP/1.1\r\n"
                  b"Host: portal.example\r\n\r\n")


class Attack:
    def __init__(self, port, slow, readers):
        self.port = port
        self.selector = selectors.DefaultSelector()
        self.slow = [None] * slow
        self.readers = [None] * readers
        self.reopened = 0
        self.refused = 0
        self.samples = []

    def open_slow(self, i):
        source = "127.0.0.%d" % (10 + i // PER_ADDRESS)
        try:
            s = socket.create_connection(("127.0.0.1", self.port), timeout=2, source_address=(source, 0))
            s.setblocking(False)
            s.send(HEAD)
        except OSError:
            self.refused += 1
            return
        self.selector.register(s, selectors.EVENT_READ, i)
        self.slow[i] = s

    def open_reader(self, i):
        s = socket.socket()
        try:
            # A small window: the portal's side backs up after a few replies.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.bind(("127.0.0.30", 0))
            s.settimeout(2)
            s.connect(("127.0.0.1", self.port))
            s.setblocking(False)
            s.send(READER_REQUEST * 2000)
        except OSError:
            s.close()
            self.refused += 1
            return
        self.readers[i] = s

    def attached(self):
        return sum(1 for s in self.slow if s is not None)

    def run(self, deadline):
        next_trickle = time.monotonic() + TRICKLE_EVERY
        while time.monotonic() < deadline:
            for key, _ in self.selector.select(timeout=0.25):
                try:
                    data = key.fileobj.recv(4096)
                except OSError:
                    data = b""
                if not data:  # closed by the portal
                    self.selector.unregister(key.fileobj)
                    key.fileobj.close()
                    self.slow[key.data] = None
            budget = REOPEN_PER_SECOND // 4
            for i, s in enumerate(self.slow):
                if s is None and budget > 0:
                    budget -= 1
                    self.reopened += 1
                    self.open_slow(i)
            if time.monotonic() >= next_trickle:
                next_trickle += TRICKLE_EVERY
                for s in self.slow:
                    if s is not None:
                        try:
                            s.send(b"a")
                        except OSError:
                            pass
                self.samples.append(self.attached())
            for i, s in enumerate(self.readers):
                # Its replies wait unread, so TCP is asked whether the portal has closed it.
                if s is None or s.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 8)[0] != ESTABLISHED:
                    if s is not None:
                        s.close()
                        self.readers[i] = None
                    self.reopened += 1
                    self.open_reader(i)


def main():
    port = int(sys.argv[1])
    seconds = float(sys.argv[2])
    slow = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
    readers = int(sys.argv[4]) if len(sys.argv) > 4 else 2
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard < slow + readers + 64:
        sys.exit("attackers.py: %d descriptors allowed, %d needed" % (hard, slow + readers + 64))
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    def stop(*_):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)
    deadline = time.monotonic() + seconds
    attack = Attack(port, slow, readers)
    try:
        for i in range(slow):
            attack.open_slow(i)
        for i in range(readers):
            attack.open_reader(i)
        print("ready: %d slow-header connections, %d non-reading clients" %
              (attack.attached(), sum(1 for s in attack.readers if s is not None)), flush=True)
        attack.run(deadline)
    except KeyboardInterrupt:
        pass
    samples = attack.samples or [attack.attached()]
    print("attackers: %d..%d slow-header connections attached, %d reopened, %d connects failed" %
          (min(samples), max(samples), attack.reopened, attack.refused), file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
