#!/usr/bin/python3
"""completion.py COMPLETION_FILE: the bash completion of kelvara and kelvara-cli, typed into a real
interactive bash on a pseudo-terminal. Each row types a line up to a Tab, then Enter; the programs
are shell functions that write the words they got, so a row checks what the completed line holds,
quoting and all. Prints each row that fails; exits 1 on any."""

import os
import pty
import select
import sys
import tempfile

READY = b"@kelvara-ready@ "
MORE = b"@kelvara-more@ "  # the line was left open, a quote unclosed

# What is typed (a Tab completes, Enter runs the line), and the words the program then gets.
ROWS = [
    ("a name with a blank", "kelvara-cli replace --selected fa\t", ["replace", "--selected", "fa lista.txt"]),
    ("a name with a blank, quote opened", 'kelvara-cli search --selected "fa\t', ["search", "--selected", "fa lista.txt"]),
    ("after a quoted DIR with a blank", 'kelvara-cli search "az én mappám" --selected a\t',
     ["search", "az én mappám", "--selected", "a b.txt"]),
    ("after an escaped DIR with a blank", "kelvara-cli search az\\ én\\ mappám --selected a\t",
     ["search", "az én mappám", "--selected", "a b.txt"]),
    ("after a DIR in $'...'", "kelvara-cli search $'az \\303\\251n mapp\\303\\241m' --selected a\t",
     ["search", "az én mappám", "--selected", "a b.txt"]),
    ("a quote opened, quotes and $ in the name", "kelvara-cli replace --selected \"it\t", ["replace", "--selected", "it's $HOME `x`.txt"]),
    ("quotes, $ and backquotes in the name", "kelvara-cli replace --selected it\t", ["replace", "--selected", "it's $HOME `x`.txt"]),
    ("a byte that is not UTF-8", "kelvara-cli search --selected lat\t", ["search", "--selected", b"lat\xe9n.txt"]),
    ("a line feed in the name", "kelvara-cli search --selected sor\t", ["search", "--selected", "sor\nt\u00f6r\u00e9s.txt"]),
    ("files only: no FIFO, directory or dot-file", "kelvara-cli search --selected c\t", ["search", "--selected", "cs\u0151.txt"]),
    ("a DIR with a blank, directories only", "kelvara-cli search az\t", ["search", "az én mappám/"]),
    ("a DIR after an option", "kelvara-cli search -i az\t", ["search", "-i", "az én mappám/"]),
    ("the commands first, not files", "kelvara-cli sea\t", ["search"]),
    ("the options of a command", "kelvara-cli replace --li\t", ["replace", "--line"]),
    ("the window program: a DIR with a blank", "kelvara az\t", ["az én mappám/"]),
    ("the window program: its options", "kelvara --h\t", ["--help"]),
]


def make_directory(root):
    def touch(name):
        with open(os.path.join(os.fsencode(root), os.fsencode(name)), "wb"):
            pass

    for name in ["az.txt", "seal.txt", "fa lista.txt", "it's $HOME `x`.txt", b"lat\xe9n.txt", "sor\ntörés.txt", "cső.txt", ".cső-rejtett"]:
        touch(name)
    os.mkfifo(os.path.join(root, "cső"))
    os.mkdir(os.path.join(root, "csőtár"))
    os.mkdir(os.path.join(root, "az én mappám"))
    touch(os.path.join("az én mappám", "a b.txt"))


def read_until_ready(fd, output):
    """Reads the terminal until bash shows one of its prompts; False when it does not within 20 s."""
    while not output.endswith(READY) and not output.endswith(MORE):
        if not select.select([fd], [], [], 20)[0]:
            return False
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return False
        if not chunk:
            return False
        output.extend(chunk)
    return True


def main():
    completion = os.path.abspath(sys.argv[1])
    scripts = "/usr/share/bash-completion/bash_completion"
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        make_directory(work)
        said, rc = os.path.join(tmp, "said"), os.path.join(tmp, "rc")
        with open(rc, "w") as f:
            f.write(f"""
PS1='{READY.decode()}'
PS2='{MORE.decode()}'
bind 'set bell-style none'
bind 'set show-all-if-ambiguous off'
source {scripts}
source '{completion}'
kelvara() {{ printf '%s\\0' "$@" >'{said}'; }}
kelvara-cli() {{ printf '%s\\0' "$@" >'{said}'; }}
""")
        env = {"HOME": tmp, "PATH": "/usr/bin:/bin", "TERM": "dumb", "LC_ALL": "C.UTF-8", "INPUTRC": "/dev/null"}
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(work)
            os.execve("/bin/bash", ["bash", "--noprofile", "--rcfile", rc, "-i"], env)
        output = bytearray()
        if not read_until_ready(fd, output):
            print("completion: bash showed no prompt:", bytes(output), file=sys.stderr)
            return 1
        for name, typed, expected in ROWS:
            if os.path.exists(said):
                os.remove(said)
            os.write(fd, typed.encode() + b"\n")
            output.clear()
            if not read_until_ready(fd, output):
                print(f"completion: {name}: no prompt after the line:", bytes(output), file=sys.stderr)
                return 1
            if output.endswith(MORE):  # Ctrl+C drops the open line
                os.write(fd, b"\x03")
                output.clear()
                if not read_until_ready(fd, output):
                    return 1
            got = open(said, "rb").read().split(b"\0")[:-1] if os.path.exists(said) else None
            if got != [w.encode() if isinstance(w, str) else w for w in expected]:
                print(f"completion: {name}: typed {typed!r}, the program got {got}, not {expected}", file=sys.stderr)
                failures += 1
        os.write(fd, b"exit\n")
        os.close(fd)
        os.waitpid(pid, 0)
    sys.stdout.flush()
    print(f"completion: {len(ROWS) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
