#!/usr/bin/env python3
"""The password prompt under a pseudo-terminal, and passwords kept out of /proc/PID/cmdline.

    cli_password_test.py CLI
    cli_password_test.py --network CLI    (in the test network: testnet.sh exec)

Runs in a network namespace of its own (unshare --net, so root): a stand-in SMB server on
127.0.0.1:445 accepts connections and never answers, so a search waits there while we look at
the process. The prompt tests drive vuvuveva-cli through a pseudo-terminal whose session has
job control (the program runs in a foreground process group of its own), so that Ctrl+Z
really stops it. With --network, Ctrl+C at the credential prompt of a share that refuses the
log-on given (S2's Vault), which a worker pool thread asks while the main thread waits. Exit 77:
cannot run here (not root).
"""
import fcntl
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading

LIMIT = 30.0  # seconds any single wait may take before the test gives up
PASSWORD = "sesame Open"
TARGET = ["search", "--location", "\\\\127.0.0.1\\Share", "--pattern", "*", "--source", "netbios",
          "--timeout", "120"]


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


class SilentServer:
    """Accepts on 127.0.0.1:445 and never says a word; counts connections."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 445))
        self.listener.listen(64)
        self.connections = []
        self.arrived = threading.Condition()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            conn, _ = self.listener.accept()
            with self.arrived:
                self.connections.append(conn)
                self.arrived.notify_all()

    def count(self):
        with self.arrived:
            return len(self.connections)

    def wait_beyond(self, count):
        with self.arrived:
            if not self.arrived.wait_for(lambda: len(self.connections) > count, LIMIT):
                fail("no SMB connection reached the stand-in server")


def process_tree(pid):
    """pid and all its descendants."""
    found, queue = [], [pid]
    while queue:
        p = queue.pop()
        found.append(p)
        try:
            with open(f"/proc/{p}/task/{p}/children") as f:
                queue += [int(c) for c in f.read().split()]
        except OSError:
            pass
    return found


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read()
    except OSError:
        return b""


def check_cmdline(cli, server, env):
    """Every accepted spelling of a password on the command line is gone from the process list."""
    forms = [
        ["-U", "DOM\\joe%" + PASSWORD],
        ["-Ujoe%" + PASSWORD],
        ["--user", "joe%" + PASSWORD],
        ["--user=joe%" + PASSWORD],
        ["-kNUjoe%" + PASSWORD, "--use-kerberos=off"],
        ["-kN", "-U", "joe%" + PASSWORD, "--use-kerberos=off"],
        ["-j2", "-Ujoe%x%" + PASSWORD],  # only the first % separates
        ["-U", "joe", "--password", PASSWORD],
        ["-U", "joe", "--password=" + PASSWORD],
    ]
    secret = PASSWORD.encode()
    for form in forms:
        before = server.count()
        proc = subprocess.Popen([cli, *TARGET, *form], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=env)
        try:
            server.wait_beyond(before)  # the search is under way: its arguments were read long ago
            for pid in process_tree(proc.pid):
                line = cmdline(pid)
                if secret in line or b"sesame" in line:
                    fail(f"password readable in /proc/{pid}/cmdline with {form}: {line!r}")
            if b"joe" not in cmdline(proc.pid):
                fail(f"the user name went too with {form}")
        finally:
            proc.kill()
            proc.wait()
    print(f"cmdline: no password in the process list for {len(forms)} spellings")


class Terminal:
    """A pseudo-terminal with vuvuveva-cli in its foreground process group.

    A session leader of our own (the holder) owns the terminal and starts the program in a
    process group of its own, so the program's group is not orphaned and Ctrl+Z stops it.
    The holder reports "stopped" and the exit status; "continue" resumes the program."""

    def __init__(self, argv, env):
        self.master, self.slave = os.openpty()
        self.output = b""
        events_r, events_w = os.pipe()
        orders_r, orders_w = os.pipe()
        self.holder = os.fork()
        if self.holder == 0:
            try:
                os.close(events_r)
                os.close(orders_w)
                self._hold(argv, env, os.fdopen(events_w, "w", buffering=1), os.fdopen(orders_r))
            finally:
                os._exit(99)
        os.close(events_w)
        os.close(orders_r)
        self.events = os.fdopen(events_r)
        self.orders = os.fdopen(orders_w, "w", buffering=1)

    def _hold(self, argv, env, events, orders):
        os.close(self.master)
        os.setsid()
        fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
        signal.signal(signal.SIGTTOU, signal.SIG_IGN)
        ready_r, ready_w = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.setpgid(0, 0)
            os.read(ready_r, 1)  # until the holder made this group the foreground
            for fd in (0, 1, 2):
                os.dup2(self.slave, fd)
            signal.signal(signal.SIGTTOU, signal.SIG_DFL)
            os.execve(argv[0], argv, env)
        os.setpgid(pid, pid)
        os.tcsetpgrp(self.slave, pid)
        os.write(ready_w, b"x")
        while True:
            _, status = os.waitpid(pid, os.WUNTRACED)
            if os.WIFSTOPPED(status):
                events.write("stopped\n")
                if orders.readline().strip() != "continue":
                    os.kill(pid, signal.SIGKILL)
                os.tcsetpgrp(self.slave, pid)
                os.kill(pid, signal.SIGCONT)
                continue
            events.write(f"exited {status}\n")
            os._exit(0)

    def program(self):
        with open(f"/proc/{self.holder}/task/{self.holder}/children") as f:
            return int(f.read().split()[0])

    def wait_reading(self):
        """Until the program waits for the terminal (read, poll or ppoll), so that a key typed
        next cannot come before the prompt is ready for it."""
        pid = self.program()
        for _ in range(int(LIMIT / 0.01)):
            with open(f"/proc/{pid}/syscall") as f:
                if f.read().split()[0] in ("0", "7", "271"):
                    return
            select.select([], [], [], 0.01)
        fail("the program never waited for the terminal")

    def echo_on(self):
        return bool(termios.tcgetattr(self.slave)[3] & termios.ECHO)

    def type(self, text):
        os.write(self.master, text)

    def read_until(self, wanted, occurrences=1):
        while self.output.count(wanted) < occurrences:
            ready, _, _ = select.select([self.master], [], [], LIMIT)
            if not ready:
                fail(f"waited in vain for {wanted!r}; the terminal shows {self.output!r}")
            self.output += os.read(self.master, 4096)

    def event(self):
        ready, _, _ = select.select([self.events], [], [], LIMIT)
        if not ready:
            fail("the program neither stopped nor ended")
        return self.events.readline().strip()

    def drain(self):
        while select.select([self.master], [], [], 0)[0]:
            self.output += os.read(self.master, 4096)

    def close(self):
        os.waitpid(self.holder, 0)
        os.close(self.master)
        os.close(self.slave)


def interrupt(term, where):
    """Ctrl+C: the program ends as interrupted, with the terminal's echo on again."""
    term.type(b"\x03")
    event = term.event()
    term.drain()
    status = int(event.split()[1]) if event.startswith("exited") else None
    if status is None or not ((os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT) or
                              (os.WIFEXITED(status) and os.WEXITSTATUS(status) == 130)):
        fail(f"Ctrl+C {where}: {event}; the terminal shows {term.output!r}")
    if not term.echo_on():
        fail(f"Ctrl+C {where} left the terminal without echo")
    term.close()


def at_prompt(term, occurrences=1):
    term.read_until(b"Password for joe: ", occurrences)
    term.wait_reading()
    if term.echo_on():
        fail("echo is on while the password is typed")


def check_prompt(cli, server, env):
    """Ctrl+C at the password prompt ends the program with echo on again; Ctrl+Z there restores
    echo while stopped, the prompt returns after fg, and the password then typed is used and
    never shown."""
    term = Terminal([cli, *TARGET, "-U", "joe"], env)
    at_prompt(term)
    term.type(b"half")
    interrupt(term, "at the prompt")
    if b"half" in term.output:
        fail(f"the typed password was echoed: {term.output!r}")

    term = Terminal([cli, *TARGET, "-U", "joe"], env)
    at_prompt(term)
    term.type(b"\x1a")
    if term.event() != "stopped":
        fail("Ctrl+Z did not stop the program")
    if not term.echo_on():
        fail("stopped at the prompt with the terminal's echo off")
    before = server.count()
    term.orders.write("continue\n")
    at_prompt(term, occurrences=2)
    term.type(PASSWORD.encode() + b"\n")
    server.wait_beyond(before)  # past the prompt: the search is connecting
    with open(f"/proc/{term.program()}/limits") as f:
        if not any(line.split()[4:6] == ["0", "0"] for line in f if line.startswith("Max core file size")):
            fail("the program holding a password may write a core file")
    if not term.echo_on():
        fail("echo still off after the password was entered")
    interrupt(term, "during the search")
    if PASSWORD.encode() in term.output:
        fail(f"the password was echoed: {term.output!r}")
    print("prompt: Ctrl+C and Ctrl+Z leave the terminal's echo on; after fg the prompt returns")


def check_server_prompt_interrupted(cli):
    """Ctrl+C at the credentials prompt of a share that refuses the log-on given with -U (S2's
    Vault admits only its own account), asked on a worker pool thread."""
    user = os.environ["VUV_NET_USER"] + "%" + os.environ["VUV_NET_PASSWORD"]
    term = Terminal([cli, "search", "--location", "\\\\S2\\Vault", "--pattern", "*", "--source", "netbios",
                     "-U", user], dict(os.environ))
    term.read_until(b"\\\\S2\\Vault refuses the user name and password given.")
    term.read_until(b"empty to skip): ")  # the prompt is ready once shown
    if not term.echo_on():
        fail("the user name is typed without echo")
    term.type(b"joe\n")
    term.read_until(b"Password: ")  # asked on a worker thread: the main thread is not reading
    if term.echo_on():
        fail("echo is on while the password is typed")
    interrupt(term, "at the server's prompt")
    print("server prompt: Ctrl+C on a worker thread's prompt ends the search with echo on again")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--network":
        check_server_prompt_interrupted(os.path.abspath(sys.argv[2]))
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    cli = os.path.abspath(sys.argv[1])
    if os.environ.get("VUV_PASSWORD_TEST_NETNS") != "1":
        if os.geteuid() != 0:
            print("SKIP: needs root for a network namespace of its own")
            sys.exit(77)
        env = dict(os.environ, VUV_PASSWORD_TEST_NETNS="1")
        os.execvpe("unshare", ["unshare", "--net", "--", sys.executable, __file__, cli], env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    server = SilentServer()
    with tempfile.TemporaryDirectory() as home:
        # The SMB library's settings and state in a folder of our own.
        os.makedirs(f"{home}/.smb")
        with open(f"{home}/.smb/smb.conf", "w") as conf:
            conf.write("[global]\n")
            for key in ("private dir", "lock directory", "state directory", "cache directory",
                        "pid directory", "ncalrpc dir"):
                conf.write(f"  {key} = {home}/state\n")
        env = {k: v for k, v in os.environ.items() if not k.startswith("PASSWD")}
        env["HOME"] = home
        check_cmdline(cli, server, env)
        check_prompt(cli, server, env)
    print("password handling: all checks passed")


if __name__ == "__main__":
    main()
