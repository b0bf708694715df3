// One lock around the work of every export. A Node-API module is
// context-aware, so worker threads may load it too and call it at the same
// time as the main thread; the captured target, the learned bundles, the
// monitors and the caches are one set of state for the whole process. The
// exports are synchronous already, so taking turns costs nothing a single
// thread would not pay. Recursive, because a host may run JavaScript (and so
// an export) inside the run loop that processEvents turns. The keyboard tap's
// thread never takes it.
#pragma once

#include <mutex>

namespace pelmora {

std::recursive_mutex& exportLock();

}  // namespace pelmora
