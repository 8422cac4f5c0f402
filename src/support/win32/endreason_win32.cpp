#include "support/process.h"

namespace qv {

// A GUI program has no console to write to; a run that ends without a dialog
// stays silent, as the user of the context menu expects.
void ReportEndReason(std::string_view) {}

}  // namespace qv
