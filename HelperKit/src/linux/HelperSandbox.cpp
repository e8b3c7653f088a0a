#include "HelperKit/HelperSandbox.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace helperkit {
namespace {

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

int lastCapability() {
    // The kernel's own count, which can exceed the headers this was built with.
    int last = CAP_LAST_CAP;
    while (prctl(PR_CAPBSET_READ, last + 1, 0, 0, 0) >= 0)
        ++last;
    return last;
}

}  // namespace

std::optional<std::string> keepOnlyReadSearchCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return failure("capget");
    const bool canSetBounding =
        (data[CAP_TO_INDEX(CAP_SETPCAP)].effective & CAP_TO_MASK(CAP_SETPCAP)) != 0;
    // The bounding set first: dropping from it needs CAP_SETPCAP, which goes next.
    if (canSetBounding) {
        for (int cap = 0; cap <= lastCapability(); ++cap) {
            if (cap == CAP_DAC_READ_SEARCH) continue;
            if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL)
                return failure("dropping a capability from the bounding set");
        }
    }
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return failure("clearing the ambient capabilities");
    const auto index = CAP_TO_INDEX(CAP_DAC_READ_SEARCH);
    const auto mask = CAP_TO_MASK(CAP_DAC_READ_SEARCH);
    const bool had = (data[index].permitted & mask) != 0;
    for (auto& word : data)
        word = {0, 0, 0};
    if (had) {
        data[index].effective = mask;
        data[index].permitted = mask;
    }
    if (syscall(SYS_capset, &header, data) != 0) return failure("capset");
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return failure("no_new_privs");
    return std::nullopt;
}

}  // namespace helperkit
