#!/usr/libexec/platform-python -Estt
# Moxel Installer's dnf helper: solves or performs one transaction of the installer's packages.
import logging
import optparse
import sys
import time

import dnf
import dnf.callback
import dnf.exceptions
import dnf.transaction
import libdnf.transaction

logger = logging.getLogger("moxel_installer")
details = logging.getLogger("moxel_installer.details")
rpm_logger = logging.getLogger("dnf.rpm")

# Seconds between two lines about one long package or download.
PROGRESS_INTERVAL = 15


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


class PackageProgress(dnf.callback.TransactionProgress):
    def __init__(self):
        dnf.callback.TransactionProgress.__init__(self)
        self.current = None
        self.last_line = 0

    def progress(self, package, action, ti_done, ti_total, ts_done, ts_total):
        if action == dnf.transaction.TRANS_POST:
            if self.current != action:
                self.current = action
                logger.info("Post transaction...")
            return
        name = dnf.transaction.ACTIONS.get(action, "action(%s)" % action)
        line = "%s: %20s [%s/%s]" % (name, package, ts_done, ts_total)
        key = (action, str(package))
        now = time.time()
        if self.current != key:
            self.current = key
            self.last_line = now
            logger.info(line + "...")
        elif ti_total and ti_done >= ti_total:
            self.current = None
            logger.info(line + " Done")
        elif now - self.last_line >= PROGRESS_INTERVAL:
            self.last_line = now
            logger.info("%s: %20s %s/%sB [%s/%s]...", name, package, ti_done, ti_total, ts_done, ts_total)

    def scriptout(self, msgs):
        if msgs:
            for line in msgs.decode("utf-8", "replace").splitlines():
                rpm_logger.info("rpm scriptlet: %s", line)

    def error(self, message):
        logger.error(message)


DOWNLOAD_STATUS = {
    dnf.callback.STATUS_OK: "",
    dnf.callback.STATUS_FAILED: "FAILED",
    dnf.callback.STATUS_ALREADY_EXISTS: "SKIPPED - already exists",
    dnf.callback.STATUS_MIRROR: "MIRROR FAILED - try next one",
    dnf.callback.STATUS_DRPM: "Delta RPM",
}


class DownloadProgress(dnf.callback.DownloadProgress):
    def __init__(self):
        dnf.callback.DownloadProgress.__init__(self)
        self.total_files = self.total_size = 0
        self.done_files = self.done_size = 0
        self.started = {}
        self.file_done = {}
        self.last_line = 0

    def start(self, total_files, total_size, total_drpms=0):
        self.total_files, self.total_size = total_files, total_size
        self.done_files = self.done_size = 0
        self.last_line = time.time()
        size = total_size if total_size else "unknown"
        logger.info("Start downloading %s files of %s size and %s delta RPMs", total_files, size, total_drpms)

    def progress(self, payload, done):
        name = str(payload)
        self.started.setdefault(name, time.time())
        self.file_done[name] = done
        now = time.time()
        if now - self.last_line >= PROGRESS_INTERVAL:
            self.last_line = now
            logger.info("Downloading %15s %d/%d [total %d/%dB %d/%d files]", name, done, payload.download_size,
                        self.done_size + done, self.total_size, self.done_files, self.total_files)

    def end(self, payload, status, msg):
        name = str(payload)
        took = time.time() - self.started.pop(name, time.time())
        size = payload.download_size if status is None else self.file_done.get(name, 0)
        self.file_done.pop(name, None)
        self.done_files += 1
        self.done_size += size
        text = DOWNLOAD_STATUS.get(status, str(status))
        duration = "%ds " % took if took > 1 else ""
        logger.info("Download %15s %s %s %sB %s[total %s/%sB %s/%s files]", name, text, msg or "", size, duration,
                    self.done_size, self.total_size, self.done_files, self.total_files)
        if status == dnf.callback.STATUS_FAILED:
            logger.error("Download %s %s: %s", name, text, msg)
        elif status == dnf.callback.STATUS_MIRROR:
            logger.warning("Download %s %s: %s", name, text, msg)


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
    base._logging._setup_from_dnf_conf(base.conf)
    base._logging.stdout_handler.setLevel(logging.CRITICAL + 1)
    base._logging.stderr_handler.setLevel(logging.DEBUG if options.verbose else logging.INFO)
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
    progress = DownloadProgress()
    base.repos.all().set_progress_bar(progress)
    base.fill_sack(load_system_repo=True)
    return base, progress


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


def perform(base, progress, options):
    for attempt in range(1, options.tries + 1):
        try:
            base.reset(goal=True)
            mark(base, options)
            base.resolve(allow_erasing=True)
            if not base.transaction:
                return
            base.download_packages(base.transaction.install_set, progress)
            break
        except dnf.exceptions.DownloadError as e:
            if attempt == options.tries:
                logger.error("Number of retries is exceeded.")
                raise
            logger.error("Error while preparing to install packages: %s. Trying again.", e)
    base.do_transaction(PackageProgress())
    for item in base.transaction:
        if item.state == libdnf.transaction.TransactionItemState_ERROR:
            raise Exception("Transaction failed")


def main(argv):
    options = parse(argv)
    setup_logging(options)
    try:
        base, progress = init_base(options)
        if options.solve:
            solve(base, options)
        elif options.perform:
            perform(base, progress, options)
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
