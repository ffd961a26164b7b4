#!/usr/bin/python -Estt
# Moxel Installer's yum helper: solves or performs one transaction of the installer's packages.
import optparse
import re
import sys
import traceback

import yum
import yum.Errors
from yum.rpmtrans import RPMBaseCallback

CONFLICT = re.compile("(.+) conflicts with (.+)")


class NoRepositories(Exception):
    pass


class PackageProgress(RPMBaseCallback):
    def __init__(self):
        RPMBaseCallback.__init__(self)
        self.last_line = None

    def event(self, package, action, te_current, te_total, ts_current, ts_total):
        line = "%s: %s [%s/%s]" % (self.action.get(action, action), package, ts_current, ts_total)
        if line != self.last_line:
            self.last_line = line
            sys.stdout.write(line + "\n")
            sys.stdout.flush()


def parse(argv):
    parser = optparse.OptionParser()
    parser.add_option("-i", "--install", action="append", default=[])
    parser.add_option("-r", "--remove", action="append", default=[])
    parser.add_option("-e", "--enablerepo", action="append", default=[])
    parser.add_option("-s", "--solve", action="store_true", default=False)
    parser.add_option("-p", "--perform", action="store_true", default=False)
    parser.add_option("-t", "--tries", type="int", default=3)
    parser.add_option("-o", "--output")
    parser.add_option("-l", "--logfile")
    parser.add_option("-v", "--verbose", action="store_true", default=False)
    options, args = parser.parse_args(argv)
    options.install = options.install + args
    return options


def split_spec(spec):
    parts = spec.rsplit("@", 1)
    if len(parts) == 2:
        return parts[0], parts[1]
    return spec, None


def init_base(options):
    base = yum.YumBase()
    base.preconf.debuglevel = options.verbose and 10 or 0
    base.conf.assumeyes = True
    if not base.repos.listEnabled() and not options.enablerepo:
        raise NoRepositories()
    for repo_id in options.enablerepo:
        base.repos.enableRepo(repo_id)
    return base


def with_retries(tries, errors, doing, action):
    for attempt in range(1, tries + 1):
        try:
            return action()
        except errors:
            e = sys.exc_info()[1]
            if attempt == tries:
                sys.stderr.write("Number of retries is exceeded.\n")
                raise
            sys.stderr.write("Error while %s: %s. Trying again.\n" % (doing, e))


def mark_once(base, options):
    for spec in options.install:
        name, arch = split_spec(spec)
        try:
            if arch:
                base.install(name=name, arch=arch)
            else:
                base.install(name=name)
        except yum.Errors.InstallError:
            sys.stderr.write("Failed to install %s:\n" % spec)
    for spec in options.remove:
        name, arch = split_spec(spec)
        try:
            base.remove(name=name)
        except yum.Errors.RemoveError:
            sys.stderr.write("Failed to remove %s:\n" % spec)


def mark(base, options):
    with_retries(options.tries, yum.Errors.RepoError, "downloading packages metainfo",
                 lambda: mark_once(base, options))


def settle_conflicts(base, options, messages):
    for message in messages:
        match = CONFLICT.search(str(message))
        if not match:
            continue
        for name in (match.group(1), match.group(2)):
            name = name.split()[0]
            if name in options.install:
                continue
            try:
                base.remove(name=name)
                sys.stderr.write("Attempt to remove '%s' to resolve conflict has succeeded\n" % name)
                break
            except yum.Errors.RemoveError:
                sys.stderr.write("Attempt to remove '%s' to resolve conflict has failed\n" % name)


def solve(base, options):
    mark(base, options)
    result, messages = base.buildTransaction()
    tries = 0
    while result not in (0, 2) and tries < 5:
        settle_conflicts(base, options, messages)
        result, messages = base.buildTransaction()
        tries += 1
    if result not in (0, 2):
        raise Exception("Failed to solve dependencies:\n" + "\n".join([str(m) for m in messages]))
    lines = []
    for member in base.tsInfo.getMembers():
        if member.ts_state in ("u", "i"):
            lines.append("+ " + member.name)
    for member in base.tsInfo.getMembers():
        if member.ts_state == "e":
            lines.append("- " + member.name)
    if options.output:
        out = open(options.output, "w")
    else:
        out = sys.stdout
    for line in lines:
        out.write(line + "\n")
    out.flush()


def transact(base):
    base.buildTransaction()
    result = base.processTransaction(rpmDisplay=PackageProgress())
    if result and getattr(result, "return_code", 0):
        raise Exception("Scriptlet or other non-fatal errors occurred during transaction.")


def perform(base, options):
    mark(base, options)
    if not base.tsInfo.getMembers():
        return
    with_retries(options.tries, yum.Errors.YumBaseError, "preparing to install packages",
                 lambda: transact(base))


def main(argv):
    options = parse(argv)
    try:
        base = init_base(options)
        if options.solve:
            solve(base, options)
        elif options.perform:
            perform(base, options)
        return 0
    except NoRepositories:
        sys.stderr.write("There are no enabled Yum repositories, installation is not possible.\n")
        return 2
    except Exception:
        e = sys.exc_info()[1]
        sys.stderr.write("%s\n" % e)
        if options.verbose:
            traceback.print_exc()
        elif options.logfile:
            log = open(options.logfile, "a")
            traceback.print_exc(file=log)
            log.close()
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
