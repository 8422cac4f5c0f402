// What the engine's worker threads do to themselves.
#pragma once

namespace qv::workers {

// Lowers the calling thread's scheduling priority a step below the normal
// one. Workers take every core for compression and extraction; below the
// caller's thread (which draws the dialog and answers the desktop) and the
// rest of the session, they take only what nobody else needs, so the
// progress dialog and the user's other programs stay responsive, and on an
// otherwise idle machine they run just as fast.
void LowerThisThreadPriority();

}  // namespace qv::workers
