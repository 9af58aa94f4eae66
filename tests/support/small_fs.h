#pragma once
// A tiny file system of its own (tmpfs), to face writers with a full or a
// read-only directory even as root. Needs the right to mount: where that is
// missing, ok() is false and the test skips.

#include <string>

#include "support/test_support.h"

namespace velkor::testing {

struct small_fs {
    temp_dir mount_point;
    bool mounted = false;

    small_fs();  // 64 KiB, writable and empty
    ~small_fs();
    small_fs(const small_fs&) = delete;
    small_fs& operator=(const small_fs&) = delete;

    bool ok() const { return mounted; }
    std::string file(const std::string& name) const { return mount_point.file(name); }
    // Takes every free block, so the next write fails with ENOSPC.
    void fill();
    // Every later create or write fails with EROFS.
    bool make_read_only();
};

} // namespace velkor::testing
