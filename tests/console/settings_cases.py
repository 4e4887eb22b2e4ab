#!/usr/bin/env python3
"""quit and the console window's settings: a settings file that cannot be
written is reported on stderr and the process still ends with its status;
without the window console quit saves nothing."""
import os
import subprocess
import sys
import tempfile


def run(kiv, source, home):
    env = dict(os.environ, XDG_CONFIG_HOME=home, HOME=home)
    env.pop("DISPLAY", None)
    return subprocess.run([kiv, "--cli"], input=source.encode(), capture_output=True, timeout=60, env=env)


def main():
    kiv = sys.argv[1]
    failed = []
    with tempfile.TemporaryDirectory() as home:
        # No window console: quit ends at once, writes nothing.
        out = run(kiv, 'print "bye"\nquit/return 3\nprint "not reached"\n', home)
        if out.returncode != 3 or out.stderr or b"not reached" in out.stdout or os.listdir(home):
            failed.append(f"plain quit: {out}")
        # A console whose settings cannot be written: reported, then the status.
        source = ('gui-console-ctx: make object! [cfg: [] cfg-path: %/no/such/folder/console-cfg.kiv\n'
                  '    save-cfg: does [write cfg-path "x"]]\n'
                  'quit/return 4\nprint "not reached"\n')
        out = run(kiv, source, home)
        err = out.stderr.decode()
        if out.returncode != 4 or b"not reached" in out.stdout or \
                not err.startswith("Console settings not saved to /no/such/folder/console-cfg.kiv:\n*** Access Error"):
            failed.append(f"unwritable settings: {out}")
        # One that can: written where XDG_CONFIG_HOME says, then the status.
        source = ('gui-console-ctx: make object! [cfg: [a: 1] cfg-path: %' + home + '/Kiv/x.kiv\n'
                  '    save-cfg: does [make-dir/deep %' + home + '/Kiv/ write cfg-path mold cfg]]\n'
                  'quit\n')
        out = run(kiv, source, home)
        path = os.path.join(home, "Kiv", "x.kiv")
        if out.returncode != 0 or out.stderr or not os.path.exists(path) or open(path).read() != "[a: 1]":
            failed.append(f"saved settings: {out}")
    for f in failed:
        print("FAIL", f)
    print(f"{3 - len(failed)} passed, {len(failed)} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
