#pragma once

// How a recording's file ended up, as its worker reports it once the file is
// closed. Callers switch over it without a default, so that a new outcome
// cannot go without its message.
enum class RecordingOutcome {
    // Every queued frame is in the file, which is complete.
    Completed = 1,
    // Writing stopped early (a failed write, or the exit's time ran out):
    // the file plays up to its last whole fragment.
    CutShort,
    // The volume ran out of room. The file, if kept, plays up to its last
    // whole fragment.
    NoSpace,
    // The file was removed while it was written; what it held was written
    // back to its path.
    FolderRemovedRestored,
    // The file was removed while it was written and could not be put back.
    FolderRemovedLost,
    // Nothing of the recording was kept (it failed before its first fragment
    // reached the disk).
    NothingKept,
};
