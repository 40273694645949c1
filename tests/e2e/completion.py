#!/usr/bin/python3
"""completion.py COMPLETION_FILE: lines typed up to a Tab, then Enter, into an interactive bash on a
pseudo-terminal, where both programs are shell functions that write the words they got. Exits 1 on a failure."""

import os
import pathlib
import pty
import select
import sys
import tempfile

READY = b"@kelvara-ready@ "
MORE = b"@kelvara-more@ "  # the line was left open, a quote unclosed

# What is typed (a Tab completes, Enter runs the line), and the words the program then gets.
ROWS = [
    *[(f"after a DIR {how} with a blank", f"kelvara-cli search {spelled} --selected a\t",
       ["search", "az én mappám", "--selected", "a b.txt"])
      for how, spelled in [("quoted", '"az én mappám"'), ("escaped", "az\\ én\\ mappám"),
                           ("in $'...'", "$'az \\303\\251n mapp\\303\\241m'")]],
    ("a quote opened, blanks, quotes and $ in the name", "kelvara-cli replace --selected \"it\t", ["replace", "--selected", "it's $HOME `x`.txt"]),
    ("blanks, quotes, $ and backquotes in the name", "kelvara-cli replace --selected it\t", ["replace", "--selected", "it's $HOME `x`.txt"]),
    ("a byte that is not UTF-8", "kelvara-cli search --selected lat\t", ["search", "--selected", b"lat\xe9n.txt"]),
    ("a line feed in the name", "kelvara-cli search --selected sor\t", ["search", "--selected", "sor\nt\u00f6r\u00e9s.txt"]),
    ("files only: no FIFO, directory or dot-file", "kelvara-cli search --selected c\t", ["search", "--selected", "cs\u0151.txt"]),
    ("a DIR with a blank after an option, directories only", "kelvara-cli search -i az\t", ["search", "-i", "az én mappám/"]),
    ("the commands first, not files", "kelvara-cli sea\t", ["search"]),
    ("the options of a command", "kelvara-cli replace --li\t", ["replace", "--line"]),
    ("the window program: a DIR with a blank", "kelvara az\t", ["az én mappám/"]),
    ("the window program: its options", "kelvara --h\t", ["--help"]),
]


def until_prompt(fd):
    """What the terminal shows up to one of bash's prompts, or until it shows nothing for 20 s."""
    output = bytearray()
    while not output.endswith((READY, MORE)):
        try:
            chunk = os.read(fd, 4096) if select.select([fd], [], [], 20)[0] else b""
        except OSError:  # the terminal is closed
            chunk = b""
        if not chunk:
            break
        output.extend(chunk)
    return bytes(output)


def main():
    completion = os.path.abspath(sys.argv[1])
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        work = os.path.join(tmp, "work")
        os.makedirs(os.path.join(work, "az én mappám"))
        os.mkdir(os.path.join(work, "csőtár"))
        os.mkfifo(os.path.join(work, "cső"))
        for name in ["az.txt", "seal.txt", "it's $HOME `x`.txt", b"lat\xe9n.txt", "sor\ntörés.txt", "cső.txt", ".cső-rejtett", "az én mappám/a b.txt"]:
            open(os.path.join(os.fsencode(work), os.fsencode(name)), "wb").close()
        said, rc = os.path.join(tmp, "said"), os.path.join(tmp, "rc")
        pathlib.Path(rc).write_text(f"""
PS1='{READY.decode()}'
PS2='{MORE.decode()}'
bind 'set bell-style none'
bind 'set show-all-if-ambiguous off'
source /usr/share/bash-completion/bash_completion
source '{completion}'
kelvara() {{ printf '%s\\0' "$@" >'{said}'; }}
kelvara-cli() {{ printf '%s\\0' "$@" >'{said}'; }}
""")
        env = {"HOME": tmp, "PATH": "/usr/bin:/bin", "TERM": "dumb", "LC_ALL": "C.UTF-8", "INPUTRC": "/dev/null"}
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(work)
            os.execve("/bin/bash", ["bash", "--noprofile", "--rcfile", rc, "-i"], env)
        shown = until_prompt(fd)
        for name, typed, expected in ROWS:
            if not shown.endswith(READY):
                print(f"completion: no prompt before the row {name!r}:", shown, file=sys.stderr)
                return 1
            pathlib.Path(said).unlink(missing_ok=True)
            os.write(fd, typed.encode() + b"\n")
            shown = until_prompt(fd)
            if shown.endswith(MORE):  # Ctrl+C drops the open line
                os.write(fd, b"\x03")
                shown = until_prompt(fd)
            got = open(said, "rb").read().split(b"\0")[:-1] if os.path.exists(said) else None
            if got != [w.encode() if isinstance(w, str) else w for w in expected]:
                print(f"completion: {name}: typed {typed!r}, the program got {got}, not {expected}", file=sys.stderr)
                failures += 1
        os.write(fd, b"exit\n")
        os.close(fd)
        os.waitpid(pid, 0)
    print(f"completion: {len(ROWS) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
