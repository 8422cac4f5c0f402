#include "engine/TreeAccess.h"

namespace qv::fs {

Lookup Look(const std::string& path, bool follow) {
  Lookup l;
  l.status = follow ? TargetStatus(path) : LinkStatus(path);
  if (l.status.exists) {
    l.kind = Lookup::kFound;
    return l;
  }
  // Asked again for the reason: the common case above stays one call.
  l.kind = WhyNotFound(path, follow, l.reason);
  if (l.kind == Lookup::kFound) {  // it appeared in between
    l.status = follow ? TargetStatus(path) : LinkStatus(path);
    if (!l.status.exists) l.kind = Lookup::kAbsent;
  }
  return l;
}

}  // namespace qv::fs
