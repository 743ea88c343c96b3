#!/usr/bin/env python3
"""Device end of the Windows serial suites under Wine.

Owns a pty whose slave is the COM port of the build's Wine prefix
($WINEPREFIX/dosdevices/comN links to it), runs the Windows test program, and is
scripted by it over a loopback TCP socket (127.0.0.1 only): one request line, one
answer line, bytes as hex.

  RENEW                a fresh pty behind the COM port        -> OK
  SEND <hex>           bytes from the device to the driver    -> OK | ERR
  RECV <count> <ms>    bytes the driver wrote, waiting <ms>   -> DATA <hex>
  DRAIN                forget what the driver wrote           -> OK
  HANGUP               the device goes away (master closes)   -> OK
  LINE                 the line as termios has it             -> LINE rate cs8 parenb cstopb crtscts raw

usage: wine_pty_peer.py --prefix PREFIX --com N -- program args...
The program gets VORN_PEER_PORT (the TCP port) and VORN_PEER_COM (COMn).
"""
import argparse
import os
import pty
import select
import socket
import subprocess
import sys
import termios
import threading
import time
import tty

RATES = {getattr(termios, "B%d" % r): r for r in
         (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600)}


class PtyPort:
    def __init__(self, link):
        self.link = link
        self.master = self.slave = None

    def close(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None

    def renew(self):
        self.close()
        self.master, self.slave = pty.openpty()
        # A quiet port in raw state; the slave stays open here so that the pty outlives
        # the driver's own opens and closes.
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        tmp = self.link + ".new"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(os.ttyname(self.slave), tmp)
        os.replace(tmp, self.link)

    def send(self, data):
        deadline = time.monotonic() + 5
        while data:
            try:
                data = data[os.write(self.master, data):]
            except BlockingIOError:
                if time.monotonic() > deadline:
                    return False
                select.select([], [self.master], [], 0.05)
            except OSError:
                return False
        return True

    def receive(self, count, ms):
        got = b""
        deadline = time.monotonic() + ms / 1000.0
        while len(got) < count and self.master is not None:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.master], [], [], left)
            if not ready:
                break
            try:
                got += os.read(self.master, count - len(got))
            except BlockingIOError:
                continue
            except OSError:
                break
        return got

    def drain(self):
        while self.master is not None:
            try:
                if not os.read(self.master, 4096):
                    break
            except OSError:
                break

    def line(self):
        iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(self.slave)
        raw = not (lflag & (termios.ICANON | termios.ECHO | termios.ISIG)) and not (oflag & termios.OPOST) \
            and not (iflag & (termios.ICRNL | termios.INLCR | termios.IGNCR | termios.IXON | termios.IXOFF))
        return "LINE %d %d %d %d %d %d" % (
            RATES.get(ospeed, -1), (cflag & termios.CSIZE) == termios.CS8, bool(cflag & termios.PARENB),
            bool(cflag & termios.CSTOPB), bool(cflag & termios.CRTSCTS), raw)


def serve(conn, port, lock):
    reader = conn.makefile("rb")
    for raw in reader:
        words = raw.decode("ascii").split()
        if not words:
            continue
        cmd, args = words[0], words[1:]
        with lock:
            try:
                if cmd == "RENEW":
                    port.renew()
                    reply = "OK"
                elif cmd == "SEND":
                    reply = "OK" if port.send(bytes.fromhex(args[0] if args else "")) else "ERR"
                elif cmd == "RECV":
                    reply = "DATA " + port.receive(int(args[0]), int(args[1])).hex()
                elif cmd == "DRAIN":
                    port.drain()
                    reply = "OK"
                elif cmd == "HANGUP":
                    port.close()
                    reply = "OK"
                elif cmd == "LINE":
                    reply = port.line()
                else:
                    reply = "ERR unknown"
            except Exception as error:  # the test sees the failure, the peer lives on
                reply = "ERR " + str(error).replace("\n", " ")
        conn.sendall((reply + "\n").encode("ascii"))
    conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--com", type=int, required=True)
    parser.add_argument("program", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    program = options.program[1:] if options.program[:1] == ["--"] else options.program

    dosdevices = os.path.join(options.prefix, "dosdevices")
    os.makedirs(dosdevices, exist_ok=True)
    port = PtyPort(os.path.join(dosdevices, "com%d" % options.com))
    port.renew()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    lock = threading.Lock()

    def accept():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(conn, port, lock), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    env = dict(os.environ, VORN_PEER_PORT=str(listener.getsockname()[1]), VORN_PEER_COM="COM%d" % options.com)
    code = subprocess.call(program, env=env)
    listener.close()
    port.close()
    link = port.link
    if os.path.islink(link):
        os.unlink(link)
    sys.exit(code)


if __name__ == "__main__":
    main()
