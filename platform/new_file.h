// A new file that has no name until it is whole.
//
// It is made in the folder of the name it will get: an unnamed file there
// (O_TMPFILE), linked in by its descriptor once it is complete; or, where
// the file system has no unnamed files, a short hidden name in that folder
// (".vexel-<pid>-<n>"), renamed or linked to the final name. Either way the
// final name only ever holds a complete file, a name of any legal length
// works (the hidden one is short), and a file that is never put in place
// leaves nothing behind: the unnamed one vanishes with the process (even
// one killed outright), the hidden name is removed on every path the
// program itself takes.
#pragma once

#include "platform/files.h"

#include <string>
#include <string_view>

namespace vexel::platform {

class NewFile {
public:
    NewFile() = default;
    ~NewFile() { discard(); }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Makes the file, empty and open for reading and writing, in the
    // folder of target. False with lastError() when it cannot be made.
    bool create(std::u16string_view target);
    bool isOpen() const { return file_.isOpen(); }
    File& file() { return file_; }
    // True when it has no name at all (an unnamed file).
    bool unnamed() const { return unnamed_; }
    // A path that opens the file again while it is open: its descriptor
    // under /proc for an unnamed file, else its hidden name.
    std::u16string reopenPath() const;

    // Gives the file the name target, which must be free: a name that
    // exists is refused (EEXIST) and left as it is. The file stays open.
    bool linkAs(std::u16string_view target);
    // Puts the file in place of target, which may exist: synced first and
    // given the permission bits of the file it replaces (and, for root,
    // its owner and group), then renamed over it in one step, so that the
    // name holds the old file or the new one, even after a power loss. A
    // free name is simply linked. The file is closed afterwards.
    bool replace(std::u16string_view target);
    // Closes the file and removes whatever name it has under way.
    void discard();

private:
    bool linkHidden(std::string& hidden);

    File file_;
    std::string folder_; // the target's folder, "." for the current one
    std::string hidden_; // the fallback's hidden name (folder included); empty for an unnamed file
    bool unnamed_ = false;
};

// Whether this run may put a new file at target: a name that is free, or a
// regular file this user may write. False with lastError() otherwise:
// EISDIR for a folder, the system's error for a file it may not write
// (EACCES for a read-only one, EPERM for an immutable one), ENAMETOOLONG
// for a name longer than the file system takes.
bool mayReplace(std::u16string_view target);

// Whether a name exists (as anything, a dangling link included).
bool nameExists(std::u16string_view path);

} // namespace vexel::platform
