#include "RecorderImpl.h"

namespace quenwick {

using namespace recorder;

// `event` points at one event of event.event_len bytes in the read buffer. Events follow one
// another without padding to the metadata's alignment, so every part is copied out.
void JournalRecorder::Impl::handleFanotifyEvent(const char* event,
                                                const fanotify_event_metadata& md) {
    if ((md.mask & FAN_Q_OVERFLOW) != 0) {
        gap(Gap::queueOverflow, "");
        // Requests may have been among what was dropped.
        answerWaitingRequests();
        return;
    }
    const char* p = event + md.metadata_len;
    const char* end = event + md.event_len;
    while (p + sizeof(fanotify_event_info_header) <= end) {
        fanotify_event_info_header header;
        std::memcpy(&header, p, sizeof header);
        if (header.len == 0 || p + header.len > end) break;
        if (header.info_type != FAN_EVENT_INFO_TYPE_DFID_NAME &&
            header.info_type != FAN_EVENT_INFO_TYPE_DFID) {
            p += header.len;
            continue;
        }
        // fsid, then a file_handle: handle_bytes, handle_type, the bytes; then the name.
        const char* fid = p + sizeof header;
        const char* handle = fid + sizeof(__kernel_fsid_t);
        if (handle + 2 * sizeof(int) > end) break;
        uint64_t fsid = 0;
        std::memcpy(&fsid, fid, std::min(sizeof fsid, sizeof(__kernel_fsid_t)));
        unsigned handleBytes = 0;
        std::memcpy(&handleBytes, handle, sizeof handleBytes);
        const char* bytes = handle + 2 * sizeof(int);
        if (bytes + handleBytes > end) break;
        std::string key(reinterpret_cast<const char*>(&fsid), sizeof fsid);
        key.append(handle + sizeof(int), sizeof(int));
        key.append(bytes, handleBytes);
        const char* rawName = bytes + handleBytes;
        const std::string name =
            header.info_type == FAN_EVENT_INFO_TYPE_DFID_NAME
                ? std::string(rawName, strnlen(rawName, static_cast<size_t>(end - rawName)))
                : std::string();
        if (key == journalKey) {
            // The journal's own folder: never recorded, but where requests arrive.
            if ((md.mask & FAN_CREATE) != 0) answerRequest(name);
            if ((md.mask & (FAN_DELETE | FAN_MOVED_FROM)) != 0) lockGone(name);
            break;
        }
        const auto mount = mountFds.find(fsid);
        if (mount == mountFds.end()) break;
        if ((md.mask & FAN_ONDIR) != 0 &&
            (md.mask & (FAN_MOVED_FROM | FAN_MOVED_TO | FAN_DELETE)) != 0) {
            // Cached paths below a moved or removed folder are stale now.
            handlePaths.clear();
        }
        if ((md.mask & FAN_ONDIR) != 0 && (md.mask & FAN_ATTRIB) != 0 && !name.empty() &&
            name != ".") {
            // A folder's own permissions decide whether it can be listed: look at it.
            pendingChildHandles.emplace_back(key, name);
        }
        pendingHandles.emplace(std::move(key), mount->second);
        notePending();
        break;
    }
}

std::optional<std::string> JournalRecorder::Impl::resolveHandle(const std::string& key,
                                                                int mountFd) {
    if (const auto it = handlePaths.find(key); it != handlePaths.end()) return it->second;
    const size_t bytes = key.size() - sizeof(uint64_t) - sizeof(int);
    std::vector<char> storage(sizeof(file_handle) + bytes);
    auto* handle = reinterpret_cast<file_handle*>(storage.data());
    handle->handle_bytes = static_cast<unsigned>(bytes);
    std::memcpy(&handle->handle_type, key.data() + sizeof(uint64_t), sizeof(int));
    std::memcpy(handle->f_handle, key.data() + sizeof(uint64_t) + sizeof(int), bytes);
    const int fd = open_by_handle_at(mountFd, handle, O_PATH | O_CLOEXEC);
    if (fd < 0) return std::nullopt;  // gone: its parent's record covers it
    struct stat st;
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    std::string path(PATH_MAX, '\0');
    const ssize_t n =
        fstat(fd, &st) == 0 && st.st_nlink > 0 ? readlink(proc, path.data(), path.size()) : -1;
    close(fd);
    if (n <= 0 || static_cast<size_t>(n) >= path.size() || path[0] != '/') {
        return std::nullopt;
    }
    path.resize(static_cast<size_t>(n));
    if (handlePaths.size() >= kMaxHandleCache) handlePaths.clear();
    handlePaths.emplace(key, path);
    return path;
}

}  // namespace quenwick
