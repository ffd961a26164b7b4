#!/usr/libexec/platform-python -Estt
# Moxel Installer's dnf helper: solves or performs one transaction of the installer's packages.
import logging
import optparse
import sys
import time

import dnf
import dnf.exceptions
import libdnf.transaction

logger = logging.getLogger("moxel_installer")
details = logging.getLogger("moxel_installer.details")


class NoRepositories(Exception):
    pass


class LevelFilter(logging.Filter):
    def __init__(self, info):
        logging.Filter.__init__(self)
        self.info = info

    def filter(self, record):
        return (record.levelno == logging.INFO) == self.info


class MillisecondFormatter(logging.Formatter):
    def formatTime(self, record, datefmt=None):
        return "%s.%03d000" % (time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(record.created)), record.msecs)


def setup_logging(options):
    logger.setLevel(logging.DEBUG)
    logger.propagate = False
    out = logging.StreamHandler(sys.stdout)
    out.addFilter(LevelFilter(True))
    err = logging.StreamHandler(sys.stderr)
    err.addFilter(LevelFilter(False))
    for handler in (out, err):
        handler.setFormatter(logging.Formatter("%(message)s"))
        logger.addHandler(handler)
    details.propagate = options.verbose
    if not options.verbose and options.logfile:
        handler = logging.FileHandler(options.logfile)
        handler.setLevel(logging.INFO)
        handler.setFormatter(MillisecondFormatter("[%(asctime)s] %(levelname)s %(name)s: %(message)s"))
        details.addHandler(handler)
        details.setLevel(logging.INFO)


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
    options.install += args
    return options


def dnf_spec(spec):
    name, at, arch = spec.rpartition("@")
    return name + "." + arch if at else spec


def init_base(options):
    base = dnf.Base()
    base.conf.read()
    base.conf.assumeyes = True
    # A release version that rpm cannot detect is left out of the substitutions.
    for key, value in list(base.conf.substitutions.items()):
        if value is None:
            del base.conf.substitutions[key]
    base.read_all_repos()
    for repo in base.repos.all():
        if repo.id in options.enablerepo:
            repo.enable()
    if not list(base.repos.iter_enabled()):
        raise NoRepositories()
    base.fill_sack(load_system_repo=True)
    return base


def mark(base, options):
    for spec in options.install:
        query = base.sack.query().filterm(name=spec.rpartition("@")[0] or spec)
        if query.installed() and query.available().filter(evr__gt=query.installed()[0].evr):
            base.upgrade(dnf_spec(spec))
        else:
            base.install(dnf_spec(spec))
    for spec in options.remove:
        if spec in options.install:
            continue
        try:
            base.remove(dnf_spec(spec))
        except dnf.exceptions.PackagesNotInstalledError as e:
            logger.warning("ignore remove for not installed package '%s': %s", spec, e)


def solve(base, options):
    mark(base, options)
    base.resolve(allow_erasing=True)
    lines = []
    for item in base.transaction:
        if item.action in (dnf.transaction.PKG_INSTALL, dnf.transaction.PKG_UPGRADE):
            lines.append("+ " + item.pkg.name)
    for item in base.transaction:
        if item.action == dnf.transaction.PKG_REMOVE:
            lines.append("- " + item.pkg.name)
    out = open(options.output, "w") if options.output else sys.stdout
    for line in lines:
        out.write(line + "\n")
    out.flush()


def perform(base, options):
    for attempt in range(1, options.tries + 1):
        try:
            base.reset(goal=True)
            mark(base, options)
            base.resolve(allow_erasing=True)
            if not base.transaction:
                return
            base.download_packages(base.transaction.install_set)
            break
        except dnf.exceptions.DownloadError as e:
            if attempt == options.tries:
                logger.error("Number of retries is exceeded.")
                raise
            logger.error("Error while preparing to install packages: %s. Trying again.", e)
    base.do_transaction()
    for item in base.transaction:
        if item.state == libdnf.transaction.TransactionItemState_ERROR:
            raise Exception("Transaction failed")


def main(argv):
    options = parse(argv)
    setup_logging(options)
    try:
        base = init_base(options)
        if options.solve:
            solve(base, options)
        elif options.perform:
            perform(base, options)
        return 0
    except NoRepositories:
        logger.error("There are no enabled Yum repositories, installation is not possible.")
        return 2
    except Exception as e:
        for line in str(e).splitlines():
            logger.error(line)
        if not isinstance(e, dnf.exceptions.DepsolveError):
            details.exception(e)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
