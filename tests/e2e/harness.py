"""Runs the real kestrel program in a private tmux server, as a user would.

Each Session owns a scratch working directory, optionally a simulated TinySA
(the tinysa-sim program on a pseudo-terminal) and a tmux server of its own on
a unique socket. The program runs under kestrel-sandbox, which shows it the
given serial ports in a private mount namespace. Tests type with send() and
read the screen with screen() or wait_for(); every wait has a deadline.
"""

import fcntl
import functools
import os
import re
import select
import struct
import termios
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import uuid
from pathlib import Path

KESTREL = os.environ.get("KESTREL_BIN", "")
SIMULATOR = os.environ.get("TINYSA_SIM", "")
SANDBOX = Path(__file__).resolve().with_name("kestrel-sandbox")

WIDTH, HEIGHT = 80, 24
# The last row of the Selection and Parameters screens.
HELP = "Use ↓↑ to move, ←→ to change status widget and ↲ to validate configuration."
# A whole scan of a few hundred points takes about five seconds of fixed
# pauses in the command dialogue, and a silent instrument several time-outs.
SCAN_TIMEOUT = 30.0


class Simulator:
    """A tinysa-sim process; `port` is the pseudo-terminal it serves. With
    --print-commands, wait_command() follows the commands it receives."""

    def __init__(self, *args):
        self._output = b""
        self.process = subprocess.Popen(
            [SIMULATOR, *args],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        try:
            self.port = self._next_line(timeout=10.0, what="a port name")
        except Exception:
            self.close()
            raise

    def _next_line(self, timeout, what):
        deadline = time.monotonic() + timeout
        fd = self.process.stdout.fileno()
        while b"\n" not in self._output:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise TimeoutError(f"tinysa-sim printed no {what}")
            chunk = os.read(fd, 4096)
            if not chunk:
                raise RuntimeError(
                    "tinysa-sim ended: " + self.process.stderr.read().decode(errors="replace")
                )
            self._output += chunk
        line, self._output = self._output.split(b"\n", 1)
        return line.decode(errors="replace").strip()

    def wait_command(self, prefix, timeout=30.0):
        """Waits until the simulator receives a command that starts with
        `prefix` (it must run with --print-commands); returns that command."""
        deadline = time.monotonic() + timeout
        while True:
            command = self._next_line(max(0.0, deadline - time.monotonic()),
                                      f"command starting with {prefix!r}")
            if command.startswith(prefix):
                return command

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


def _sgr_runs(line):
    """Splits a capture-pane -e line into (text, foreground, background) runs;
    a colour is a palette number, an (r, g, b) tuple or None (the default)."""
    runs = []
    colours = {38: None, 48: None}  # foreground, background
    for piece in re.split(r"(\x1b\[[0-9;:]*m)", line):
        if not piece.startswith("\x1b["):
            if piece:
                runs.append((piece, colours[38], colours[48]))
            continue
        params = [int(p) if p else 0 for p in re.split(r"[;:]", piece[2:-1])]
        i = 0
        while i < len(params):
            p = params[i]
            if p == 0:
                colours = {38: None, 48: None}
            elif p in (39, 49):
                colours[p - 1] = None
            elif 30 <= p <= 37 or 40 <= p <= 47:
                colours[38 if p < 40 else 48] = p % 10
            elif 90 <= p <= 97 or 100 <= p <= 107:
                colours[38 if p < 100 else 48] = p % 10 + 8
            elif p in (38, 48) and i + 2 < len(params) and params[i + 1] == 5:
                colours[p] = params[i + 2]
                i += 2
            elif p in (38, 48) and i + 4 < len(params) and params[i + 1] == 2:
                colours[p] = tuple(params[i + 2 : i + 5])
                i += 4
            i += 1
    return runs


BLUE = 4


@functools.cache
def sanitized():
    """True when the program under test is built with a sanitizer, whose
    shadow memory and run time make memory figures and Valgrind meaningless."""
    data = Path(KESTREL).read_bytes()
    return b"__asan_init" in data or b"__tsan_init" in data


def whole_frame(width, height, title):
    """A test of the screen text: a frame of that size that holds `title`, its
    boxes spread over the width. A frame reaches the screen from the top
    down, possibly in several pieces: a test that reads lower rows waits for
    them too."""
    def check(screen):
        lines = screen.splitlines()
        widest = max((len(line.rstrip()) for line in lines), default=0)
        return len(lines) == height and title in screen and width - 12 < widest <= width
    return check


def parameters_drawn(screen):
    """A test of the screen text: the Parameters screen drawn whole. Its frame
    replaces the boxes of the screen before row by row from the top, so it is
    whole once its four inputs are closed below their values and nothing of
    the earlier boxes is left further down."""
    lines = screen.splitlines()
    row = next((i for i, line in enumerate(lines) if "Start Frequency" in line), None)
    return (row is not None and row + 2 < len(lines) and lines[row + 2].count("┘") == 4
            and not any(piece in line for line in lines[row + 3:] for piece in "│└┘"))


def _children(pid):
    """The pids of the processes whose parent is `pid`."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                stat = (entry / "stat").read_text()
            except OSError:
                continue
            # The fields after the command name, which may hold blanks.
            if int(stat.rsplit(")", 1)[1].split()[1]) == pid:
                found.append(int(entry.name))
    return found


class Session:
    """One run of kestrel in tmux. Use as a context manager."""

    def __init__(self, ports=(), config=None, read_only_config=False, simulator_args=None,
                 broken_port_listing=False, stdin_redirected=False, wrapper=()):
        """`ports`: names offered under /dev (e.g. "ttyACM0"), all backed by
        one simulator; `config`: text of config.toml; `simulator_args`: the
        simulator's options (None: no simulator unless ports are offered);
        `broken_port_listing`: the serial ports cannot be listed;
        `stdin_redirected`: the program's standard input is /dev/null;
        `wrapper`: a command that runs the program (e.g. valgrind and its
        options), inside the sandbox."""
        self.workdir = Path(tempfile.mkdtemp(prefix="kestrel-e2e-"))
        self.socket = f"kestrel-e2e-{os.getpid()}-{uuid.uuid4().hex[:8]}"
        self.simulator = None
        self.pane_pid = None
        self.closed = False
        try:
            self._start(ports, config, read_only_config, simulator_args, broken_port_listing,
                        stdin_redirected, wrapper)
        except Exception:
            self.close()
            raise

    def _start(self, ports, config, read_only_config, simulator_args, broken_port_listing,
               stdin_redirected, wrapper):
        if config is not None:
            (self.workdir / "config.toml").write_text(config)
        if ports or simulator_args is not None:
            self.simulator = Simulator(*(simulator_args or []))
        command = [str(SANDBOX)]
        for name in ports:
            command += ["--port", f"{name}={self.simulator.port}"]
        if broken_port_listing:
            command.append("--broken-port-listing")
        if read_only_config:
            command += ["--read-only", str(self.workdir / "config.toml")]
        command += [
            "--status", str(self.workdir / ".exit-status"),
            "--stty", str(self.workdir / ".stty"),
            "--",
        ]
        if stdin_redirected:
            command += ["sh", "-c", 'exec "$0" "$@" </dev/null']
        command += [*wrapper, KESTREL]
        conf = self.workdir / ".tmux.conf"
        conf.write_text(
            "set -g status off\n"
            "set -g remain-on-exit on\n"
            'set -g default-terminal "tmux-256color"\n'
        )
        self._tmux(
            "-f", str(conf), "new-session", "-d", "-s", "kestrel",
            "-x", str(WIDTH), "-y", str(HEIGHT), "-c", str(self.workdir), "--", *command,
        )
        self.pane_pid = int(self.display("#{pane_pid}"))
        # Hidden helper files are left out of listings of the working directory.
        (self.workdir / ".tmux.conf").unlink()

    def _tmux(self, *args):
        result = subprocess.run(
            ["tmux", "-L", self.socket, *args],
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=10,
        )
        if result.returncode != 0:
            raise RuntimeError(f"tmux {args[0]} failed: {result.stderr.strip()}")
        return result.stdout

    def close(self):
        if self.closed:
            return
        self.closed = True
        try:
            self.close_window()
        finally:
            self._wait_gone(self.pane_pid)
            if self.simulator is not None:
                self.simulator.close()
            shutil.rmtree(self.workdir, ignore_errors=True)

    @staticmethod
    def _wait_gone(pid, timeout=5.0):
        if pid is None:
            return
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)
        try:
            os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def close_window(self):
        """Closes the terminal window under the program, as a user does: its
        pseudo-terminal hangs up. The working directory stays."""
        subprocess.run(["tmux", "-L", self.socket, "kill-server"],
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- reading -----------------------------------------------------------

    def display(self, fmt):
        return self._tmux("display-message", "-p", "-t", "kestrel", fmt).strip()

    def screen(self):
        """The visible pane as text, one line per row, trailing blanks cut."""
        return self._tmux("capture-pane", "-p", "-t", "kestrel")

    def final_screen(self):
        """After the program ended: the pane with the lines that tmux's
        "Pane is dead" notice pushed into its history."""
        return self._tmux("capture-pane", "-p", "-S", "-", "-t", "kestrel")

    def styled_screen(self):
        return self._tmux("capture-pane", "-p", "-e", "-t", "kestrel")

    def highlighted(self):
        """The texts drawn on a blue background (the selected list items)."""
        found = []
        for line in self.styled_screen().splitlines():
            for text, _, background in _sgr_runs(line):
                if background == BLUE and text.strip():
                    found.append(text.strip())
        return found

    def gauge(self):
        """The Scanning screen's progress line as (filled cells, all cells):
        the line after the label, filled in blue; None when none is shown."""
        for line in self.styled_screen().splitlines():
            runs = _sgr_runs(line)
            if any("Progress:" in text for text, _, _ in runs):
                line_runs = [(text, foreground) for text, foreground, _ in runs
                             if "─" in text]
                return (sum(len(text) for text, foreground in line_runs if foreground == BLUE),
                        sum(len(text) for text, _ in line_runs))
        return None

    def program_pid(self):
        """The pid of the running kestrel process (the sandbox's child)."""
        pending = [self.pane_pid]
        while pending:
            pid = pending.pop()
            try:
                if Path(f"/proc/{pid}/comm").read_text().strip() == "kestrel":
                    return pid
            except OSError:
                continue
            pending += _children(pid)
        raise AssertionError("no kestrel process is running")

    def peak_memory_kib(self):
        """The program's peak resident set so far (VmHWM), in KiB."""
        status = Path(f"/proc/{self.program_pid()}/status").read_text()
        return int(re.search(r"^VmHWM:\s+(\d+) kB", status, re.M).group(1))

    def wait_for(self, condition, timeout=10.0, what=None):
        """Polls the screen until `condition` (a text to find, or a function
        of the screen text) holds; returns that screen or fails the test."""
        test = condition if callable(condition) else (lambda s: condition in s)
        deadline = time.monotonic() + timeout
        while True:
            text = self.screen()
            if test(text):
                return text
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"timed out waiting for {what or condition!r}; screen:\n{text}"
                )
            time.sleep(0.05)

    def file(self, name):
        return (self.workdir / name).read_bytes()

    def files(self, pattern):
        return sorted(p.name for p in self.workdir.glob(pattern))

    # ---- acting ------------------------------------------------------------

    def send(self, *keys):
        """tmux key names: "Enter", "Escape", "Up", "q", ..."""
        for key in keys:
            self._tmux("send-keys", "-t", "kestrel", key)
            # One key per event loop turn, as a typing user gives them.
            time.sleep(0.05)

    def send_bytes(self, data):
        """Types raw bytes, as a terminal sends them (an escape sequence, a
        mouse report), in one piece."""
        self._tmux("send-keys", "-t", "kestrel", "-H", *(f"{b:02x}" for b in data))
        time.sleep(0.05)

    def send_batch(self, keys, timeout=10.0):
        """Types all `keys` (tmux key names) at once, as fast as the terminal
        takes them, and waits until the program has read them all."""
        self._tmux("send-keys", "-t", "kestrel", *keys)
        self.wait_input_read(timeout)

    def wait_input_read(self, timeout=10.0):
        """Waits until no typed byte is left unread on the program's terminal."""
        fd = os.open(self.display("#{pane_tty}"), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            deadline = time.monotonic() + timeout
            while True:
                pending = struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]
                if pending == 0:
                    return
                if time.monotonic() > deadline:
                    raise AssertionError(f"{pending} typed bytes left unread; screen:\n"
                                         + self.screen())
                time.sleep(0.01)
        finally:
            os.close(fd)

    def wait_selection(self):
        """Waits for the Selection screen drawn whole, down to its help line
        (a frame reaches the screen from the top down); returns it."""
        return self.wait_for(lambda screen: "COM Ports" in screen and HELP in screen,
                             what="the whole Selection screen")

    def wait_parameters(self):
        """Waits for the Parameters screen drawn whole; returns it."""
        return self.wait_for(parameters_drawn, what="the whole Parameters screen")

    def reach_parameters(self):
        """From the first screen on to the Parameters screen; returns it, whole."""
        self.wait_for("COM Ports")
        self.send("Enter")
        return self.wait_parameters()

    def reach_failure(self, timeout=10.0):
        """Enter on Parameters, then the Failure screen; returns it."""
        self.send("Enter")
        return self.wait_for("Press ↲ or q to exit", timeout=timeout, what="the Failure screen")

    def resize(self, width, height):
        self._tmux("resize-window", "-t", "kestrel", "-x", str(width), "-y", str(height))

    def wait_exit(self, timeout=10.0):
        """Waits for the program to end; returns its exit status."""
        status = self.workdir / ".exit-status"
        deadline = time.monotonic() + timeout
        while not (status.exists() and status.read_text().strip()):
            if time.monotonic() > deadline:
                raise AssertionError("kestrel did not exit; screen:\n" + self.screen())
            time.sleep(0.05)
        # The sandbox writes the status, then the terminal modes, then ends.
        deadline = time.monotonic() + timeout
        while self.display("#{pane_dead}") != "1":
            if time.monotonic() > deadline:
                raise AssertionError("the sandbox did not end")
            time.sleep(0.05)
        return int(status.read_text())

    def terminal_modes(self):
        """`stty -a` of the program's terminal, taken right after it ended."""
        return (self.workdir / ".stty").read_text()


class KestrelTestCase(unittest.TestCase):
    def setUp(self):
        if not (KESTREL and SIMULATOR):
            self.fail("KESTREL_BIN and TINYSA_SIM must name the built programs")

    def session(self, **kwargs):
        s = Session(**kwargs)
        self.addCleanup(s.close)
        return s

    def assert_normal_exit(self, session, status=0):
        """The program ended with `status` and gave the terminal back: raw
        mode off, alternate screen left, nothing of its screens left."""
        self.assertEqual(session.wait_exit(), status)
        self.assertEqual(session.display("#{alternate_on}"), "0")
        modes = session.terminal_modes().split()
        for flag in ("icanon", "echo", "isig", "icrnl", "opost"):
            self.assertIn(flag, modes, f"terminal left without {flag}")
        self.assertNotIn("┌", session.final_screen())
