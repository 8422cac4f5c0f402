// The desktop chooser: the item dialog is a GtkFileChooserNative (the
// desktop portal where the session offers one, GTK's own chooser otherwise);
// everything else of the platform (paths, known folders, shell items, the
// folder browser) is that of `base`, the file-system layer of the terminal.
#pragma once
#include <memory>

#include "filedialog/ChooserPlatform.h"

namespace qv {

std::shared_ptr<ChooserPlatform> MakeGtkChooserPlatform(std::shared_ptr<ChooserPlatform> base);

}  // namespace qv
