#include "support/small_fs.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace velkor::testing {

small_fs::small_fs()
{
    mounted = ::mount("tmpfs", mount_point.path.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
}

small_fs::~small_fs()
{
    if (mounted)
        ::umount2(mount_point.path.c_str(), MNT_DETACH);
}

void small_fs::fill()
{
    const int fd = ::open(file("filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<char> block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
}

bool small_fs::make_read_only()
{
    return ::mount(nullptr, mount_point.path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
}

} // namespace velkor::testing
