#!/usr/bin/env python3
"""Script launching from the command line: each case writes script files in a
fresh folder, runs kiv there and compares the output and the exit status."""
import os
import signal
import subprocess
import sys
import tempfile

CASES = [
    # name, files, arguments, standard input, expected output, status; the
    # output is the standard output, or a pair of it and the error output
    # (which must otherwise stay empty)
    ("shebang and arguments",
     {"sub/a.kiv": '#!/usr/bin/env kiv\nKiv [Title: "args"]\n'
                   'print [mold system/options/args mold system/script/args]\nprint what-dir\n'},
     ["sub/a.kiv", "x", "y z"], "", '["x" "y z"] {x "y z"}\n{dir}/sub/\n', 0),
    ("switches before the script are dropped",
     {"a.kiv": 'Kiv []\nprint mold system/options/args\n'},
     ["--foo", "a.kiv", "1"], "", '["1"]\n', 0),
    ("-- ends the switches",
     {"--odd.kiv": 'Kiv []\nprint "odd"\n'},
     ["--", "--odd.kiv"], "", "odd\n", 0),
    ("the script after -- keeps its own arguments",
     {"--x.kiv": 'Kiv []\nprint [mold system/script/args mold system/options/args]\n'},
     ["--catch", "--", "--x.kiv", "q"], "", '"q" ["q"]\n>> ', 0),
    ("no header",
     {"a.kiv": 'print 1\n'},
     ["a.kiv"], "", ("", "*** Error: Kiv header not found!\n"), 1),
    ("a lower-case header is no header",
     {"a.kiv": 'kiv []\nprint 1\n'},
     ["a.kiv"], "", ("", "*** Error: Kiv header not found!\n"), 1),
    ("low-level dialect",
     {"a.kiv": 'Kiv/System []\nprint 1\n'},
     ["a.kiv"], "", ("", "*** Error: contains Kiv/System code which requires compilation!\n"), 1),
    ("an error ends the run with a status, reported on the error output",
     {"a.kiv": 'Kiv []\nprint "before"\n1 / 0\nprint "after"\n'},
     ["a.kiv"], "",
     ("before\n", "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0 print \"after\"\n"), 1),
    ("a syntax error of the script goes to the error output",
     {"a.kiv": 'Kiv []\nprint "before"\n[1 2\n'},
     ["a.kiv"], "",
     ("", "*** Syntax Error: (line 4) missing ] at [1 2\n*** Where: transcode\n*** Near : transcode source\n"), 1),
    ("with --catch the error stays at the console",
     {"a.kiv": 'Kiv []\n1 / 0\n'},
     ["--catch", "a.kiv"], "",
     "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n>> ", 0),
    ("halt in a script run with --catch returns to the prompt",
     {"a.kiv": 'Kiv []\nprint "a"\nhalt\nprint "b"\n'},
     ["--catch", "a.kiv"], "1 + 1\n", "a\n(halted)\n>> == 2\n>> ", 0),
    ("--version and --help end at once",
     {}, ["--version", "missing.kiv"], "", "Kiv 0.1.0\n", 0),
    ("an unreadable script ends the run with a status",
     {}, ["missing.kiv"], "",
     "*** Access Error: cannot open: %missing.kiv\n*** Where: read\n*** Near : read file\n", 1),
    ("--catch keeps the prompt",
     {"a.kiv": 'Kiv []\nx: 42\n'},
     ["--catch", "a.kiv"], "x\n", ">> == 42\n>> ", 0),
    ("quit with a status",
     {"a.kiv": 'Kiv []\nquit/return 7\n'},
     ["a.kiv"], "", "", 7),
    ("do of a script file, its folder and system/script",
     {"main.kiv": 'Kiv [Title: "main"]\nprint do %lib/inner.kiv\nprint what-dir\nprint none? system/script/header\n',
      "lib/inner.kiv": 'Kiv [Title: "inner"]\nprint [system/script/header/Title system/script/header/Date what-dir]\n'
                       '1 + 2\n'},
     ["main.kiv"], "", "inner none {dir}/lib/\n3\n{dir}/\ntrue\n", 0),
    ("an error in a done script restores the folder",
     {"main.kiv": 'Kiv []\ne: try [do %lib/bad.kiv]\nprint [e/id what-dir]\n',
      "lib/bad.kiv": 'Kiv []\n1 / 0\n'},
     ["main.kiv"], "", "zero-divide {dir}/\n", 0),
    ("directives are expanded",
     {"a.kiv": 'Kiv []\n#if 1 < 2 [print "yes"]\n#either none [print "b"] [print "c"]\n'},
     ["a.kiv"], "", "yes\nc\n", 0),
    ("a script nested 999 deep runs, its directives expanded at every depth",
     {"a.kiv": 'Kiv []\nx: ' + '[' * 999 + '#if true [1]' + ']' * 999 + '\nloop 998 [x: first x]\nprint mold x\n'},
     ["a.kiv"], "", "[1]\n", 0),
    ("a throw that no catch takes is an error that try takes",
     {"a.kiv": 'Kiv []\ne: try [throw 1]\nprint [e/id e/arg1]\nprint catch [catch/name [throw 2] \'x]\n'},
     ["a.kiv"], "", "throw 1\n2\n", 0),
]


def interrupted_script(kiv):
    """Ctrl-C (SIGINT) ends a script run without the console with status 130."""
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "a.kiv")
        with open(path, "w") as f:
            f.write('Kiv []\nprint "running"\nforever []\n')
        run = subprocess.Popen([kiv, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        run.stdout.readline()
        run.send_signal(signal.SIGINT)
        status = run.wait(timeout=30)
        if status != 130:
            print(f"FAIL an interrupted script\n  expected status 130, got {status}")
            return 1
    return 0


def main():
    kiv = os.path.abspath(sys.argv[1])
    failed = interrupted_script(kiv)
    for name, files, args, given, expected, status in CASES:
        with tempfile.TemporaryDirectory() as d:
            d = os.path.realpath(d)
            for path, text in files.items():
                full = os.path.join(d, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "w") as f:
                    f.write(text)
            run = subprocess.run([kiv] + args, cwd=d, input=given.encode(), capture_output=True, timeout=60)
            out, err = expected if isinstance(expected, tuple) else (expected, "")
            want = (out.replace("{dir}", d), err.replace("{dir}", d))
            got = (run.stdout.decode(), run.stderr.decode())
            if got != want or run.returncode != status:
                failed += 1
                print(f"FAIL {name}\n  expected ({status}): {want!r}\n  got ({run.returncode}): {got!r}")
    print(f"{len(CASES) + 1 - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
