#include "target.h"

namespace quorvex {

namespace fs = std::filesystem;

namespace {

// The process's own descriptor that `name` stands for, /dev/fd/N,
// /proc/self/fd/N or /proc/thread-self/fd/N, where /dev/stdout and bash's
// >(...) lead; else -1.
int ownDescriptor(System& system, const fs::path& name) {
    const std::string digits = name.filename().string();
    if (digits.empty() || digits.size() > 9 || (digits[0] == '0' && digits.size() > 1) ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    const fs::path folder = name.parent_path().empty() ? fs::path(".") : name.parent_path();
    return system.listsOwnDescriptors(folder) ? std::stoi(digits) : -1;
}

} // namespace

Error resolve(System& system, const fs::path& name, Target& to) {
    if (name.empty()) {
        return {ErrorKind::NotFound};
    }
    to.file = system.openable(name);
    for (int hop = 0; hop < 40; ++hop) { // the kernel's own bound
        to.descriptor = ownDescriptor(system, to.file);
        NameStatus link;
        if (to.descriptor >= 0 || system.look(to.file, false, link) || !link.link) {
            break;
        }
        if (!mayFollow(system, to.file, link)) {
            return {ErrorKind::Denied}; // to.file names the link
        }
        to.file = link.target.is_absolute() ? link.target : to.file.parent_path() / link.target;
    }
    return {};
}

bool mayFollow(System& system, const fs::path& name, const NameStatus& link) {
    if (link.owner == system.runner()) {
        return true;
    }
    const fs::path folder = name.parent_path().empty() ? fs::path(".") : name.parent_path();
    NameStatus status;
    if (system.look(folder, true, status)) {
        return false; // its folder cannot be known: not followed
    }
    return !status.sharedFolder || status.owner == link.owner;
}

Error inspect(System& system, Target& target, Existing& found) {
    Examined facts;
    const Error error = patiently(system, [&] {
        facts = Examined{};
        const Error examining = system.examine(target.file, facts);
        return examining ? examining : facts.refusal;
    });
    if (facts.kind == Examined::Kind::Folder) {
        return {ErrorKind::IsFolder};
    }
    if (facts.readOnly) {
        return {ErrorKind::Denied};
    }
    if (error || facts.kind == Examined::Kind::Missing) {
        return error;
    }
    if (facts.kind == Examined::Kind::Device) {
        found.kind = Existing::Kind::Device;
        found.device = facts.device;
        return found.device != kNoHandle ? Error{} : system.openDevice(target.file, found.device);
    }
    found.kind = Existing::Kind::File;
    found.keep = facts.keep;
    if (!facts.file.empty()) {
        target.file = facts.file;
    }
    return {};
}

} // namespace quorvex
