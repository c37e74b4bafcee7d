#include "fake_system.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace quorvex::testing {

namespace fs = std::filesystem;

namespace {
bool isTemp(const std::string& name) {
    return fs::path(name).filename().string().rfind(".quorvex-", 0) == 0;
}

constexpr Error kFault{ErrorKind::Other}; // the injected failure

// The name of `file` in `in`, as `files` knows it: "./fw.s37" is "fw.s37".
std::string nameIn(const Folder& in, const fs::path& file) {
    return (in.path / file).lexically_normal().generic_string();
}
} // namespace

bool FakeSystem::fails(Op op) {
    const int call = ++calls_[op];
    return op == failing_ && (call == nth_ || (sticky_ && nth_ > 0 && call > nth_));
}

int FakeSystem::temps() const {
    return static_cast<int>(std::count_if(files.begin(), files.end(),
                                          [](const auto& file) { return isTemp(file.first); }));
}

Error FakeSystem::openSource(const fs::path& name, Handle& out, std::uint64_t& size) {
    if (fails(Op::OpenSource) || files.count(name.generic_string()) == 0) {
        return {ErrorKind::NotFound};
    }
    out = next_++;
    open_[out] = Open{name.generic_string()};
    size = files[name.generic_string()].size();
    return {};
}

bool FakeSystem::map(Handle file, std::uint64_t /*size*/, const FaultTexts& /*fault*/,
                     std::string_view& bytes) {
    bytes = content(file);
    return mappable;
}

Error FakeSystem::look(const fs::path& name, bool follow, NameStatus& out) {
    const auto link = links.find(name.lexically_normal().generic_string());
    out = NameStatus{};
    if (link != links.end() && !follow) {
        out = NameStatus{true, false, link->second.owner, link->second.target};
    } else if (shared.count(name.lexically_normal().generic_string()) != 0) {
        out = NameStatus{false, true, 0, {}};
    }
    return {};
}

Error FakeSystem::examine(const fs::path& name, Examined& out) {
    const std::string file = name.lexically_normal().generic_string();
    if (folders.count(file) != 0) {
        out.kind = Examined::Kind::Folder;
        return {};
    }
    if (files.count(file) == 0) {
        return {};
    }
    out.kind = file.rfind("dev/", 0) == 0 ? Examined::Kind::Device : Examined::Kind::File;
    out.readOnly = file.rfind("ro/", 0) == 0;
    out.refusal = heldFor > 0 ? Error{ErrorKind::Busy} : Error{};
    heldFor -= heldFor > 0 ? 1 : 0;
    out.keep = metadata[file];
    return {};
}

Error FakeSystem::openDevice(const fs::path& name, Handle& out) {
    files[name.generic_string()].clear();
    out = next_++;
    open_[out] = Open{name.generic_string()};
    return {};
}

Error FakeSystem::openFolder(const fs::path& path, Folder& out) {
    out = Folder{path, next_++};
    open_[out.handle] = Open{path.generic_string()};
    return {};
}

void FakeSystem::closeFolder(Folder& folder) {
    open_.erase(std::exchange(folder.handle, kNoHandle));
}

Error FakeSystem::createFile(const Folder& in, const fs::path& file, bool /*privately*/,
                             Handle& out) {
    const std::string name = nameIn(in, file);
    if (lockedFolder || fullDisk) {
        return {lockedFolder ? ErrorKind::Denied : ErrorKind::NoRoom};
    }
    if (fails(Op::Create)) {
        return kFault;
    }
    if (files.count(name) != 0) {
        return {ErrorKind::Exists};
    }
    files[name];
    metadata[name] = Metadata{0600, kRunner, kRunner, 0, 1};
    attributes[name] = {{kAcl, "inherited"}};
    out = next_++;
    open_[out] = Open{name};
    return {};
}

Error FakeSystem::openFile(const Folder& in, const fs::path& file, bool /*forReading*/,
                           Handle& out) {
    const std::string name = nameIn(in, file);
    if (fails(Op::OpenFile) || files.count(name) == 0) {
        return kFault;
    }
    out = next_++;
    open_[out] = Open{name};
    return {};
}

Error FakeSystem::lock(Handle /*file*/, bool /*exclusive*/) {
    pendingWhenLocked = removedOnSignal.load() != nullptr;
    const bool busy = lockedFor > 0;
    lockedFor -= busy ? 1 : 0;
    return fails(Op::Lock) ? kFault : busy ? Error{ErrorKind::Busy} : Error{};
}

Error FakeSystem::write(Handle file, std::string_view bytes, std::size_t& written) {
    std::string& text = content(file);
    Open& opened = open_.at(file);
    const std::size_t at = std::min(opened.at, text.size());
    const std::size_t fits =
        std::min(fullDisk ? text.size() - at : bytes.size(), room.value_or(SIZE_MAX));
    const bool full = fits < bytes.size();
    const bool failing = fails(Op::Write) || full;
    if (failing) {
        bytes = bytes.substr(0, full ? fits : bytes.size() / 2);
    }
    if (room) {
        *room -= bytes.size();
    }
    if (text.size() < at + bytes.size()) {
        text.resize(at + bytes.size(), '\0');
    }
    text.replace(at, bytes.size(), bytes);
    written = bytes.size();
    opened.at = opened.at == SIZE_MAX ? SIZE_MAX : at + bytes.size();
    unheldChanges += !isTemp(opened.name) && !signalsHeld ? 1 : 0;
    return failing ? (full ? Error{ErrorKind::NoRoom} : kFault) : Error{};
}

Error FakeSystem::seek(Handle file, std::uint64_t offset) {
    open_.at(file).at = static_cast<std::size_t>(offset);
    return fails(Op::Seek) ? kFault : Error{};
}

Error FakeSystem::read(Handle file, char* into, std::size_t size, std::size_t& got) {
    if (noMemory) {
        throw std::bad_alloc();
    }
    const bool failing = fails(Op::Read);
    Open& opened = open_.at(file);
    const std::string& text = files[opened.name];
    got = std::min(failing ? size / 2 : size, text.size() - std::min(text.size(), opened.position));
    std::memcpy(into, text.data() + opened.position, got);
    opened.position += got;
    return failing ? kFault : Error{};
}

Error FakeSystem::size(Handle file, std::uint64_t& bytes) {
    if (fails(Op::Size)) {
        return kFault;
    }
    bytes = content(file).size();
    return {};
}

Error FakeSystem::truncate(Handle file, std::uint64_t bytes) {
    if (fails(Op::Truncate)) {
        return kFault;
    }
    std::string& text = content(file);
    if (room && bytes < text.size()) {
        *room += text.size() - static_cast<std::size_t>(bytes);
    }
    text.resize(static_cast<std::size_t>(bytes), '\0');
    unheldChanges += !isTemp(open_.at(file).name) && !signalsHeld ? 1 : 0;
    return {};
}

Error FakeSystem::space(Handle /*file*/, Space& out) {
    out = Space{room.has_value(), shown.value_or(room.value_or(0))};
    return {};
}

Error FakeSystem::reserve(Handle /*file*/, std::uint64_t /*offset*/, std::uint64_t bytes) {
    if (fails(Op::Reserve)) {
        return kFault; // as where room cannot be set aside
    }
    return room && bytes > *room ? Error{ErrorKind::NoRoom} : Error{};
}

Error FakeSystem::sync(Handle /*file*/) {
    return fails(Op::Sync) ? kFault : Error{};
}

Error FakeSystem::close(Handle file) {
    open_.erase(file);
    return fails(Op::Close) ? kFault : Error{};
}

FileId FakeSystem::id(Handle file) {
    return {1, std::hash<std::string>()(open_.at(file).name)};
}

Error FakeSystem::status(Handle file, Metadata& out) {
    out = metadata[open_.at(file).name];
    return {};
}

Error FakeSystem::setOwner(Handle file, std::uint32_t owner, std::uint32_t group) {
    Metadata& meta = metadata[open_.at(file).name];
    meta.owner = ownerKept ? meta.owner : owner;
    meta.group = ownerKept ? meta.group : group;
    return ownerKept;
}

Error FakeSystem::setMode(Handle file, std::uint32_t mode) {
    metadata[open_.at(file).name].mode = mode;
    return {};
}

Error FakeSystem::listAttributes(const fs::path& name, std::vector<std::string>& out) {
    for (const auto& attribute : attributes[name.generic_string()]) {
        out.push_back(attribute.first);
    }
    return {};
}

Error FakeSystem::readAttribute(const fs::path& name, const std::string& attribute,
                                std::string& value) {
    value = attributes[name.generic_string()][attribute];
    return {};
}

Error FakeSystem::writeAttribute(Handle file, const std::string& attribute,
                                 std::string_view value) {
    attributes[open_.at(file).name][attribute] = value;
    return {};
}

Error FakeSystem::removeAttribute(Handle file, const std::string& attribute) {
    attributes[open_.at(file).name].erase(attribute);
    return {};
}

Error FakeSystem::setAttributes(Handle file, std::uint32_t given) {
    metadata[open_.at(file).name].attributes = given;
    return {};
}

Error FakeSystem::rename(const Folder& in, const fs::path& temp, const fs::path& target) {
    if (heldFile) {
        return {ErrorKind::RenameRefused};
    }
    if (fails(Op::Replace)) {
        return kFault;
    }
    files[nameIn(in, target)] = files.at(nameIn(in, temp));
    metadata[nameIn(in, target)] = metadata[nameIn(in, temp)];
    attributes[nameIn(in, target)] = attributes[nameIn(in, temp)];
    files.erase(nameIn(in, temp));
    metadata.erase(nameIn(in, temp));
    attributes.erase(nameIn(in, temp));
    return {};
}

void FakeSystem::remove(const Folder& in, const fs::path& file) {
    files.erase(nameIn(in, file));
}

std::string FakeSystem::reason(const Error& error) const {
    const char* const names[] = {"none",    "not found", "exists",         "denied",    "a folder",
                                 "no room", "busy",      "rename refused", "cancelled", "other"};
    return names[static_cast<int>(error.kind)];
}

} // namespace quorvex::testing
