// Which file systems keep a change time that no user can set back. Only
// those are trusted with a remembered verification; anything not known to
// keep one is not, so an unknown file system costs a full check, never a
// wrong "Ok".
#include "platform/fs.h"
#include "platform/text.h"

namespace korvane::platform {

namespace {

struct known_type {
    std::uint64_t type;
    const wchar_t* name;
    bool keeps_change_time;
};

// The kernel sets these change times itself on every change of a file and
// offers no call to set them. Overlay reports the times of the layer that
// holds the file, a local file system in practice.
//
// Not trusted: FAT and exFAT keep no change time (the kernel reports the
// modification time); FUSE, NFS, SMB and 9p show what a server or daemon
// reports (sshfs and bindfs --ctime-from-mtime report the modification time,
// an NFS server's own file system is unknown here, and attributes are cached
// by the client for up to a minute); NTFS can have its change time set from
// Windows; read-only images carry whatever times their builder wrote.
// clang-format off
constexpr known_type known_types[] = {
    {0xEF53, L"ext4", true},  // ext2, ext3 and ext4 share it
    {0x58465342, L"xfs", true},
    {0x9123683E, L"btrfs", true},
    {0x01021994, L"tmpfs", true},
    {0x858458F6, L"ramfs", true},
    {0xF2F52010, L"f2fs", true},
    {0x2FC12FC1, L"zfs", true},
    {0x3153464A, L"jfs", true},
    {0x52654973, L"reiserfs", true},
    {0x3434, L"nilfs2", true},
    {0xCA451A4E, L"bcachefs", true},
    {0x794C7630, L"overlay", true},
    {0x65735546, L"fuse", false},
    {0x4D44, L"vfat", false},
    {0x2011BAB0, L"exfat", false},
    {0x5346544E, L"ntfs", false},
    {0x7366746E, L"ntfs3", false},
    {0x6969, L"nfs", false},
    {0xFF534D42, L"cifs", false},
    {0xFE534D42, L"smb3", false},
    {0x517B, L"smb", false},
    {0x01021997, L"9p", false},
    {0x00C36400, L"ceph", false},
    {0x73717368, L"squashfs", false},
    {0x9660, L"iso9660", false},
    {0x15013346, L"udf", false},
    {0xE0F5E1E2, L"erofs", false},
    {0x482B, L"hfsplus", false},
    {0xF15F, L"ecryptfs", false},
};
// clang-format on

}  // namespace

file_system_info linux_file_system(std::uint64_t type) {
    for (const known_type& known : known_types) {
        if (known.type == type) {
            return {known.name, known.keeps_change_time};
        }
    }
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring name = L"0x";
    bool started = false;
    for (int shift = 60; shift >= 0; shift -= 4) {
        unsigned digit = static_cast<unsigned>((type >> shift) & 0xF);
        started = started || digit != 0 || shift == 0;
        if (started) {
            name += digits[digit];
        }
    }
    return {name, false};
}

file_system_info windows_file_system(std::wstring_view name, bool remote) {
    // NTFS and ReFS keep a change time that the copy and restore tools leave
    // alone (they set the last-write and creation times); a share reports what
    // its server has, whatever name it gives.
    bool keeps = !remote && (equal_ignoring_ascii_case(name, std::wstring_view(L"NTFS")) ||
                             equal_ignoring_ascii_case(name, std::wstring_view(L"ReFS")));
    std::wstring shown(name.empty() ? std::wstring_view(L"unknown") : name);
    if (remote) {
        shown += L", network share";
    }
    return {shown, keeps};
}

}  // namespace korvane::platform
