"""Times an installation of the example product by the installer and by a bare apt-get (see run).

    install_bench.py INSTALLER SOURCE HTTPSERVER ROUNDS

Each output line is stamped as it arrives; the stages end at the first line that starts the next.
"""

import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

installer, source, httpserver, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
packages = ["moxel-example-core", "moxel-example-web"]
repository = "moxel-example/1.0.0/debian-12/dist"

# (stage, first line of the next stage); the last stage ends with the command.
installer_stages = [
    ("catalogue", "Synchronizing the Debian APT package index files"),
    ("apt index", "Detecting installed product components"),
    ("tree", "Checking whether the package dependencies are resolved"),
    ("resolution", "Installing packages"),
    ("download", "Selecting previously unselected package"),
    ("transaction", "Installing patches"),
    ("patches", None),
]
# apt-get writes its output in blocks to a pipe: its stages are its two commands.
apt_stages = [("apt index", None)]
apt_install_stages = [("download+transaction", None)]


def timed(command, stages, env=None):
    """Stage durations in seconds, and the total."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                               env=env, text=True, errors="replace")
    marks, index, tail = [], 0, ""
    for line in process.stdout:
        tail = (tail + line)[-4000:]
        while index < len(stages) and stages[index][1] and line.startswith(stages[index][1]):
            marks.append(time.monotonic())
            index += 1
    if process.wait() != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), tail))
    end = time.monotonic()
    marks = [start] + marks + [end] * (len(stages) - len(marks))
    times = {name: marks[i + 1] - marks[i] for i, (name, _) in enumerate(stages)}
    times["total"] = end - start
    return times


def run(command):
    subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def forget_sources(system_release):
    """Only a local placeholder release of the system's name is left for apt (see the tests)."""
    run("rm -f /etc/apt/sources.list /etc/apt/sources.list.d/* && rm -rf /var/lib/apt/lists/* "
        "&& mkdir -p /var/lib/apt/lists/partial")
    os.makedirs(system_release + "/dists/bookworm/main/binary-amd64", exist_ok=True)
    with open(system_release + "/dists/bookworm/main/binary-amd64/Packages", "w") as index:
        index.write("Package: moxeltest-placeholder\nVersion: 1\nArchitecture: all\nFilename: none.deb\n"
                    "Size: 1\nDescription: none\n")
    run("cd %s && apt-ftparchive -o APT::FTPArchive::Release::Suite=bookworm release dists/bookworm > Release "
        "&& mv Release dists/bookworm/" % system_release)
    with open("/etc/apt/sources.list.d/system.list", "w") as lines:
        lines.write("deb [trusted=yes] file:%s bookworm main\n" % system_release)


def purge():
    run("apt-get -y purge %s" % " ".join(packages))


def main():
    server = subprocess.Popen(["/usr/bin/python3", httpserver, "--root", source], stdout=subprocess.PIPE, text=True)
    port = server.stdout.readline().split()[1]
    url = "http://127.0.0.1:%s/" % port
    system_release = tempfile.mkdtemp()
    os.chmod(system_release, 0o755)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive", LANG="C")
    # The sandbox's own host name resolves nowhere: the installer's host check would wait for DNS.
    run("hostname localhost")
    ours, theirs = [], []
    try:
        forget_sources(system_release)
        for _ in range(rounds):
            ours.append(timed([installer, "install", "moxel-example", "--preset", "Full", "--source", url],
                              installer_stages))
            purge()
            forget_sources(system_release)
            key = "/etc/apt/keyrings/moxel-example.asc"
            os.makedirs(os.path.dirname(key), exist_ok=True)
            shutil.copyfile(glob.glob(source + "/keys/*.asc")[0], key)
            with open("/etc/apt/sources.list.d/example.list", "w") as lines:
                lines.write("deb [signed-by=%s] %s%s bookworm main\n" % (key, url, repository))
            index = timed(["apt-get", "update"], apt_stages, env)
            install = timed(["apt-get", "-y", "install"] + packages, apt_install_stages, env)
            index.update(install)
            index["total"] += install["total"]
            theirs.append(index)
            purge()
            forget_sources(system_release)
    finally:
        server.terminate()
        shutil.rmtree(system_release, ignore_errors=True)

    def median(runs, name):
        values = [r[name] for r in runs if name in r]
        return statistics.median(values) if values else None

    print("median of %d rounds, seconds" % rounds)
    print("%-20s %10s %10s" % ("stage", "installer", "apt-get"))
    names = [name for name, _ in installer_stages + apt_install_stages] + ["total"]
    for name in names:
        theirs_value = median(theirs, name)
        ours_value = median(ours, name)
        print("%-20s %10s %10s" % (name, "%.2f" % ours_value if ours_value is not None else "-",
                                      "%.2f" % theirs_value if theirs_value is not None else "-"))
    print("installer / apt-get: %.2fx" % (median(ours, "total") / median(theirs, "total")))


main()
