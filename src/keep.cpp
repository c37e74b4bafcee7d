#include "keep.h"

#include <string>
#include <vector>

namespace quorvex {
namespace {

// The extended attribute that holds a file's access ACL. Others outside
// user.* (security.*, trusted.*) are the system's to set.
constexpr char kAccessAcl[] = "system.posix_acl_access";

// The file attributes (Windows' values) a replaced file keeps: hidden,
// system, not content-indexed. Its archive bit is set whatever it was: the
// content is new, and a backup must see it, as it would after a write in
// place.
constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kSystem = 0x4;
constexpr std::uint32_t kArchive = 0x20;
constexpr std::uint32_t kNotContentIndexed = 0x2000;

bool isUserAttribute(const std::string& name) {
    return name.rfind("user.", 0) == 0;
}

// Copies the user attributes and the access ACL of `old` to `file`, as raw
// bytes. An access ACL that `file` took from its folder's default ACL goes,
// unless `old` had one too: the file's access is the old file's, not the
// folder's.
void keepAttributes(System& system, Handle file, const std::filesystem::path& old) {
    std::vector<std::string> names;
    (void)system.listAttributes(old, names);
    bool hadAcl = false;
    std::string value;
    for (const std::string& name : names) {
        if (!isUserAttribute(name) && name != kAccessAcl) {
            continue;
        }
        if (!system.readAttribute(old, name, value)) {
            hadAcl = hadAcl || name == kAccessAcl;
            (void)system.writeAttribute(file, name, value);
        }
    }
    if (!hadAcl) {
        (void)system.removeAttribute(file, kAccessAcl);
    }
}

} // namespace

bool mayReplace(const Metadata& meta) {
    return meta.links <= 1;
}

bool keepFrom(System& system, Handle file, const std::filesystem::path& old, const Metadata& meta) {
    Metadata now;
    if (system.status(file, now) || ((now.owner != meta.owner || now.group != meta.group) &&
                                     system.setOwner(file, meta.owner, meta.group))) {
        return false;
    }
    keepAttributes(system, file, old);
    (void)system.setAttributes(
        file, kArchive | (meta.attributes & (kHidden | kSystem | kNotContentIndexed)));
    (void)system.setMode(file, meta.mode);
    return true;
}

} // namespace quorvex
