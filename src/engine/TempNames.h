// Names of the temporary files the engine writes beside their targets (the
// archive being written, each file being extracted). They are short and of our
// own pattern whatever the length of the real name, so a legal name of 255
// bytes still has a temporary twin, and they carry the id of the process that
// made them, so that a file left behind by a run that was killed (SIGKILL, a
// power loss) can be recognised and removed by the next run that writes in the
// same folder, once that process no longer exists.
//
// Pattern: ".qv" <pid in hex> "-" <8 random base-36 characters> ".tmp",
// at most 3 + 16 + 1 + 8 + 4 = 32 bytes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::tempnames {

// A new temporary name (no folder) for this process.
std::string New();
// The process id a name of our pattern carries; nothing for any other name.
std::optional<uint64_t> OwnerOf(std::string_view name);
// True when the process with this id is still running (or cannot be told
// apart from a running one: a process of another user counts as running).
bool ProcessAlive(uint64_t pid);
// This process's id.
uint64_t CurrentProcess();
// Removes the files of our pattern in `folder` whose process has ended.
// Returns how many were removed. Folders, links and other names are left.
int RemoveStale(const std::string& folder);

}  // namespace qv::tempnames
