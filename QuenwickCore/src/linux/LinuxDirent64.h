#pragma once

#include <cstdint>

namespace quenwick {

// One record of the getdents64 system call's buffer, which glibc does not declare. Records are
// d_reclen bytes long and 8-byte aligned; d_name is NUL-terminated within the record.
struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

}  // namespace quenwick
