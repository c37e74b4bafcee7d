// A file system in memory behind the destination layer's primitives, which
// fails the k-th call of a chosen primitive: the rules above can then be
// checked at every failure point, without root, a small disk or Wine.
#pragma once

#include "platform.h"

#include <map>
#include <string>

namespace quorvex::testing {

enum class Op {
    Create,
    OpenFile,
    Lock,
    Write,
    WriteAt,
    Read,
    Size,
    Truncate,
    Sync,
    Close,
    Replace
};

class FakeSystem final : public System {
  public:
    static constexpr ErrorCode kFault = 5;    // the injected failure
    static constexpr ErrorCode kRefused = 13; // a folder or rename that refuses
    static constexpr ErrorCode kHeld = 16;    // a file held open by another program
    static constexpr ErrorCode kBusy = 11;    // a file locked by another run
    static constexpr ErrorCode kFull = 28;    // no room on the disk
    static constexpr ErrorCode kExists = 17;  // a file of that name exists

    std::map<std::string, std::string> files; // name: content
    bool lockedFolder = false;                // no new file can be made
    bool heldFile = false;                    // the target cannot be renamed over
    bool fullDisk = false;                    // no new file can be made, nor any file grow
    int lockedFor = 0;                        // calls of lock() that find it busy
    bool pendingWhenLocked = false;           // a signal would still remove the temporary file
    ErrorCode groupKept = 0;                  // what setMetadata() says of the group
    bool signalsHeld = false;
    int unheldChanges = 0; // to a file not made by the run, while signals were not held

    // Fails the `nth` call (from 1) of `op`, and every later one when `sticky`.
    void failAt(Op op, int nth, bool sticky = false) {
        failing_ = op;
        nth_ = nth;
        sticky_ = sticky;
    }
    // The temporary files left behind.
    int temps() const;

    ErrorCode resolve(const std::filesystem::path& name, Target& to) override;
    ErrorCode useDescriptor(int descriptor, Handle& out) override;
    ErrorCode inspect(Target& target, Existing& found) override;
    ErrorCode createFile(const std::filesystem::path& file, bool privately, Handle& out) override;
    ErrorCode openFile(const std::filesystem::path& file, bool forReading, Handle& out) override;
    ErrorCode lock(Handle file, bool exclusive, bool& busy) override;
    // Writes where the file stands (at its end after opening); a failing
    // write leaves the first half of its bytes written, and a full disk
    // takes no byte past the file's end.
    ErrorCode write(Handle file, std::string_view bytes, std::size_t& written) override;
    ErrorCode seek(Handle file, std::uint64_t offset) override;
    ErrorCode read(Handle file, char* into, std::size_t size, std::size_t& got) override;
    ErrorCode size(Handle file, std::uint64_t& bytes) override;
    ErrorCode truncate(Handle file, std::uint64_t bytes) override;
    ErrorCode roomToOverwrite(Handle /*file*/, std::uint64_t /*bytes*/) override { return 0; }
    ErrorCode sync(Handle file) override;
    ErrorCode close(Handle file) override;
    FileId id(Handle file) override;
    ErrorCode setMetadata(Handle file, const std::filesystem::path& old,
                          const Metadata& keep) override;
    ErrorCode replace(const std::filesystem::path& temp,
                      const std::filesystem::path& target) override;
    void remove(const std::filesystem::path& file) override;
    void holdSignals() override { signalsHeld = true; }
    void releaseSignals() override { signalsHeld = false; }
    bool folderRefuses(ErrorCode error) const override { return error == kRefused; }
    bool noRoom(ErrorCode error) const override { return error == kFull; }
    bool exists(ErrorCode error) const override { return error == kExists; }
    bool renameRefused(ErrorCode error) const override { return error == kHeld; }
    ErrorCode noSuchFile() const override { return 2; }
    ErrorCode cancelled() const override { return 125; }
    std::string reason(ErrorCode error) const override { return "error " + std::to_string(error); }

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
