// A file system in memory behind the primitives, which fails the k-th call
// of a chosen primitive: the rules above can then be checked at every
// failure point, without root, a small disk or Wine.
#pragma once

#include "platform.h"

#include <map>
#include <optional>
#include <set>
#include <string>

namespace quorvex::testing {

enum class Op {
    OpenSource,
    Create,
    OpenFile,
    Lock,
    Write,
    Seek,
    Read,
    Size,
    Truncate,
    Reserve,
    Sync,
    Close,
    Replace
};

class FakeSystem final : public System {
  public:
    std::map<std::string, std::string> files; // name: content
    bool lockedFolder = false;                // no new file can be made
    bool heldFile = false;                    // the target cannot be renamed over
    bool fullDisk = false;                    // no new file can be made, nor any file grow
    bool mappable = false;                    // sources are mapped, not read
    bool noMemory = false;                    // a read finds no memory for its bytes
    int lockedFor = 0;                        // calls of lock() that find it busy
    int pauses = 0;                           // of the waits, such as for a lock
    int waited = 0;                           // milliseconds, in all
    int patienceMs = 0;                       // for a file another program holds
    int heldFor = 0;                          // looks at a destination that find it held
    struct Link {
        std::string target; // as the link says it, relative to its folder or not
        std::uint32_t owner;
    };
    std::map<std::string, Link> links; // symbolic links, by name
    std::set<std::string> folders;     // folders, by name; sticky ones anyone may
    std::set<std::string> shared;      // write to are also `shared`, and root's
    bool pendingWhenLocked = false;    // a signal would still remove the temporary file
    // Each file's metadata and extended attributes, by name. A new file is
    // the runner's, kRunner, and takes its folder's default ACL as its
    // access ACL: the attribute kAcl, "inherited".
    static constexpr std::uint32_t kRunner = 1000;
    static constexpr char kAcl[] = "system.posix_acl_access";
    std::map<std::string, Metadata> metadata;
    std::map<std::string, std::map<std::string, std::string>> attributes;
    Error ownerKept; // what setOwner() says
    bool signalsHeld = false;
    int unheldChanges = 0; // to a file not made by the run, while signals were not held
    // A disk that copies on write: what all writes may still take,
    // overwrites too; cutting a file gives its room back. It shows `shown`
    // free (as df does; by default the room itself), where a quota may allow
    // less.
    std::optional<std::size_t> room;
    std::optional<std::size_t> shown;

    // Fails the `nth` call (from 1) of `op`, and every later one when `sticky`.
    void failAt(Op op, int nth, bool sticky = false) {
        failing_ = op;
        nth_ = nth;
        sticky_ = sticky;
    }
    // How often `op` was called.
    int calls(Op op) const { return calls_.count(op) == 0 ? 0 : calls_.at(op); }
    // The temporary files left behind, and the files left open.
    int temps() const;
    int openFiles() const { return static_cast<int>(open_.size()); }

    Error openSource(const std::filesystem::path& name, Handle& out, std::uint64_t& size) override;
    bool map(Handle file, std::uint64_t size, const FaultTexts& fault,
             std::string_view& bytes) override;
    // Names in `links` are symbolic links, and those in `shared` shared folders.
    Error look(const std::filesystem::path& name, bool follow, NameStatus& out) override;
    // Names under dev/ are devices, and under ro/ may not be written; any
    // other that exists is a file. A file held for the next `heldFor` looks
    // at it.
    Error examine(const std::filesystem::path& name, Examined& out) override;
    Error openDevice(const std::filesystem::path& name, Handle& out) override;
    std::uint32_t runner() override { return kRunner; }
    // A folder is a prefix of names; it is held open as a file is.
    Error openFolder(const std::filesystem::path& path, Folder& out) override;
    void closeFolder(Folder& folder) override;
    Error createFile(const Folder& in, const std::filesystem::path& file, bool privately,
                     Handle& out) override;
    Error openFile(const Folder& in, const std::filesystem::path& file, bool forReading,
                   Handle& out) override;
    Error lock(Handle file, bool exclusive) override;

    // Writes where the file stands (at its end after opening); a failing
    // write leaves the first half of its bytes written, a full disk takes
    // no byte past the file's end, and none takes more than `room`.
    Error write(Handle file, std::string_view bytes, std::size_t& written) override;
    Error seek(Handle file, std::uint64_t offset) override;
    // A failing read has read half of what it was asked for.
    Error read(Handle file, char* into, std::size_t size, std::size_t& got) override;
    Error size(Handle file, std::uint64_t& bytes) override;
    Error truncate(Handle file, std::uint64_t bytes) override;
    // A disk that copies on write has `room` free, and sets aside no more.
    Error space(Handle file, Space& out) override;
    Error reserve(Handle file, std::uint64_t offset, std::uint64_t bytes) override;
    Error sync(Handle file) override;
    Error close(Handle file) override;
    FileId id(Handle file) override;
    Error status(Handle file, Metadata& out) override;
    Error setOwner(Handle file, std::uint32_t owner, std::uint32_t group) override;
    Error setMode(Handle file, std::uint32_t mode) override;
    Error listAttributes(const std::filesystem::path& name, std::vector<std::string>& out) override;
    Error readAttribute(const std::filesystem::path& name, const std::string& attribute,
                        std::string& value) override;
    Error writeAttribute(Handle file, const std::string& attribute,
                         std::string_view value) override;
    Error removeAttribute(Handle file, const std::string& attribute) override;
    Error setAttributes(Handle file, std::uint32_t given) override;
    Error rename(const Folder& in, const std::filesystem::path& temp,
                 const std::filesystem::path& target) override;
    void remove(const Folder& in, const std::filesystem::path& file) override;
    void holdSignals() override { signalsHeld = true; }
    void releaseSignals() override { signalsHeld = false; }
    // The kind's name: there are no system codes here.
    std::string reason(const Error& error) const override;

    void pause(int milliseconds) override {
        ++pauses;
        waited += milliseconds;
    }
    int patience() const override { return patienceMs; }

  private:
    struct Open {
        std::string name;
        std::size_t position = 0;  // of reading
        std::size_t at = SIZE_MAX; // of writing; its end till sought
    };
    // True when this call of `op` is to fail.
    bool fails(Op op);
    std::string& content(Handle file) { return files[open_.at(file).name]; }

    std::map<Handle, Open> open_;
    Handle next_ = 3;
    Op failing_ = Op::Create;
    int nth_ = 0; // none
    bool sticky_ = false;
    std::map<Op, int> calls_;
};

} // namespace quorvex::testing
