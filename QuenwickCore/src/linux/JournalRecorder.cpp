#include "RecorderImpl.h"

namespace quenwick {

using namespace recorder;

std::string JournalRecorder::StartError::describe() const {
    switch (kind) {
        case Kind::alreadyRunning:
            return otherPid > 0 ? "another recorder is already running (pid " +
                                      std::to_string(otherPid) + ")"
                                : std::string("another recorder is already running");
        case Kind::cannotOpenJournal:
            return "cannot open the change journal " + detail + ": " + std::strerror(errnum);
        case Kind::noRoots:
            return "no folders to watch";
        case Kind::cannotWatch:
            return "cannot watch " + detail +
                   (errnum != 0 ? ": " + std::string(std::strerror(errnum)) : std::string());
    }
    return "cannot start the recorder";
}

JournalRecorder::JournalRecorder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

JournalRecorder::~JournalRecorder() = default;

std::variant<std::unique_ptr<JournalRecorder>, JournalRecorder::StartError> JournalRecorder::start(
    Options options) {
    using Kind = StartError::Kind;
    auto impl = std::make_unique<Impl>();
    if (options.journalDirectory.empty()) {
        options.journalDirectory = ChangeJournal::defaultDirectory();
    }

    std::vector<std::string> real;
    for (const auto& root : options.roots) {
        auto resolved = PathRules::realPath(root);
        if (!resolved) return StartError{Kind::cannotWatch, errno, 0, root};
        real.push_back(std::move(*resolved));
        struct stat st;
        if (stat(real.back().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return StartError{Kind::cannotWatch, ENOTDIR, 0, root};
        }
    }
    std::sort(real.begin(), real.end());
    real.erase(std::unique(real.begin(), real.end()), real.end());
    // A root inside another root is already watched through it.
    std::vector<std::string> roots;
    for (const auto& r : real) {
        if (std::none_of(roots.begin(), roots.end(),
                         [&](const std::string& outer) { return isUnder(r, outer); })) {
            roots.push_back(r);
        }
    }
    if (roots.empty()) return StartError{Kind::noRoots, 0, 0, {}};

    auto opened = ChangeJournal::Writer::open(options.journalDirectory, options.limits);
    if (auto* error = std::get_if<ChangeJournal::Writer::OpenError>(&opened)) {
        if (error->kind == ChangeJournal::Writer::OpenError::Kind::alreadyRunning) {
            return StartError{Kind::alreadyRunning, error->errnum, error->otherPid, {}};
        }
        return StartError{Kind::cannotOpenJournal, error->errnum, 0, options.journalDirectory};
    }
    impl->writer = std::move(std::get<0>(opened));
    auto journalReal = PathRules::realPath(options.journalDirectory);
    if (!journalReal)
        return StartError{Kind::cannotOpenJournal, errno, 0, options.journalDirectory};
    impl->journalDir = std::move(*journalReal);

    impl->controlFd.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    impl->stopEvent.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    impl->mountsFd.reset(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    if (!impl->controlFd || !impl->stopEvent || !impl->mountsFd) {
        return StartError{Kind::cannotWatch, errno, 0, "(inotify)"};
    }
    impl->journalWd =
        inotify_add_watch(impl->controlFd.get(), impl->journalDir.c_str(), kJournalMask);
    if (impl->journalWd < 0) {
        return StartError{Kind::cannotOpenJournal, errno, 0, options.journalDirectory};
    }
    for (const auto& r : roots)
        impl->roots.emplace_back(r);

    const bool tryFanotify = options.mode == Mode::fanotify ||
                             (options.mode == Mode::automatic && hasCapability(CAP_SYS_ADMIN) &&
                              hasCapability(CAP_DAC_READ_SEARCH));
    int err = 0;
    std::string failedRoot;
    if (tryFanotify) {
        impl->mode = Mode::fanotify;
        impl->fanFd.reset(
            fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME,
                          O_RDONLY | O_CLOEXEC | O_LARGEFILE));
        bool ok = impl->fanFd.valid();
        if (!ok) err = errno;
        for (size_t i = 0; ok && i < impl->roots.size(); ++i) {
            ok = impl->attach(i, err);
            if (!ok) failedRoot = impl->roots[i].path;
        }
        // The journal's folder gets a mark of its own so that requests arrive in the same
        // queue as the changes, whatever file system it lies on; its handle tells them apart.
        if (ok) {
            struct statfs sfs;
            std::vector<char> storage(sizeof(file_handle) + MAX_HANDLE_SZ);
            auto* handle = reinterpret_cast<file_handle*>(storage.data());
            handle->handle_bytes = MAX_HANDLE_SZ;
            int mountId = 0;
            ok = statfs(impl->journalDir.c_str(), &sfs) == 0 &&
                 name_to_handle_at(AT_FDCWD, impl->journalDir.c_str(), handle, &mountId, 0) == 0 &&
                 fanotify_mark(impl->fanFd.get(), FAN_MARK_ADD | FAN_MARK_ONLYDIR,
                               FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM, AT_FDCWD,
                               impl->journalDir.c_str()) == 0;
            if (!ok) {
                err = errno;
                failedRoot = impl->journalDir;
            } else {
                const uint64_t fsid = Impl::fsidKey(sfs.f_fsid);
                impl->journalKey.assign(reinterpret_cast<const char*>(&fsid), sizeof fsid);
                impl->journalKey.append(reinterpret_cast<const char*>(&handle->handle_type),
                                        sizeof(int));
                impl->journalKey.append(reinterpret_cast<const char*>(handle->f_handle),
                                        handle->handle_bytes);
            }
        }
        if (!ok) {
            if (options.mode == Mode::fanotify) {
                return StartError{Kind::cannotWatch, err, 0,
                                  failedRoot.empty() ? "(fanotify)" : failedRoot + " (fanotify)"};
            }
            for (auto& root : impl->roots) {
                if (root.controlWd >= 0) inotify_rm_watch(impl->controlFd.get(), root.controlWd);
                root.fd.reset();
                std::string path = std::move(root.path);
                root = Impl::Root(std::move(path));
            }
            impl->mountFds.clear();
            impl->fanFd.reset();
        }
    }
    if (!impl->fanFd) {
        impl->mode = Mode::inotify;
        impl->treeFd.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!impl->treeFd) return StartError{Kind::cannotWatch, errno, 0, "(inotify)"};
        // Requests arrive in the same queue as the changes (the same watch when the journal
        // lies below a root). Taken first, so that the watch limit cannot deny it.
        impl->journalTreeWd =
            inotify_add_watch(impl->treeFd.get(), impl->journalDir.c_str(), kTreeMask);
        if (impl->journalTreeWd < 0) {
            return StartError{Kind::cannotOpenJournal, errno, 0, impl->journalDir};
        }
        for (size_t i = 0; i < impl->roots.size(); ++i) {
            if (!impl->attach(i, err)) return StartError{Kind::cannotWatch, err, 0, roots[i]};
        }
    }
    impl->options = std::move(options);
    // The start record goes after the watches: every change after its position is seen.
    if (!impl->writer->begin(roots)) {
        return StartError{Kind::cannotOpenJournal, errno, 0, impl->options.journalDirectory};
    }
    impl->begun = true;
    impl->publish();
    return std::unique_ptr<JournalRecorder>(new JournalRecorder(std::move(impl)));
}

bool JournalRecorder::run(int stopFd) {
    return impl_->writer != nullptr && impl_->run(stopFd);
}

void JournalRecorder::stop() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(impl_->stopEvent.get(), &one, sizeof one);
}

JournalRecorder::Mode JournalRecorder::mode() const {
    return impl_->mode;
}

size_t JournalRecorder::watchedDirectories() const {
    return impl_->watchCount.load(std::memory_order_relaxed);
}

std::vector<std::string> JournalRecorder::roots() const {
    std::vector<std::string> paths;
    for (const auto& r : impl_->roots)
        paths.push_back(r.path);
    return paths;
}

}  // namespace quenwick
