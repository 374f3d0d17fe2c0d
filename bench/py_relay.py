"""A line relay as one would write it by hand, for comparison in the benchmarks.

    python3 py_relay.py RULES.ini SERVER [ARGS...]

Starts the server on pipes, rewrites each client line with the [Client2Server] rules and each
server line with the [Server2Client] rules (every occurrence of a key replaced by its value, the
rules in the byte order of their keys), and passes every line on as soon as it is read.
"""
import subprocess
import sys
import threading


def load_rules(path):
    rules = {"Client2Server": {}, "Server2Client": {}}
    section = None
    with open(path, "rb") as f:
        for raw in f:
            line = raw.rstrip(b"\r\n")
            if line.startswith(b"["):
                section = rules.get(line.strip(b"[] ").decode())
            elif section is not None and b":=" in line and not line.startswith(b";"):
                key, _, value = line.partition(b":=")
                section.setdefault(key.strip(), value.strip())
    return {name: sorted(table.items()) for name, table in rules.items()}


def translate(line, rules):
    for key, value in rules:
        line = line.replace(key, value)
    return line


def main():
    rules = load_rules(sys.argv[1])
    server = subprocess.Popen(sys.argv[2:], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def client_to_server():
        try:
            for line in sys.stdin.buffer:
                server.stdin.write(translate(line, rules["Client2Server"]))
                server.stdin.flush()
            server.stdin.close()
        except BrokenPipeError:
            pass

    threading.Thread(target=client_to_server, daemon=True).start()
    out = sys.stdout.buffer
    for line in server.stdout:
        out.write(translate(line, rules["Server2Client"]))
        out.flush()
    server.wait()


if __name__ == "__main__":
    main()
