#include "filedialog/CmnDialogEx.h"
#include "extractor/frmMain.h"
#include "support/modQuorvelRegSettings.h"

namespace qv::unpack {

namespace {
constexpr int32_t kOpenFlags = 0x1800;  // OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST
}

std::string frmMain::ChooseArchive() {
  CmnDialogEx dlg;
  dlg.Clear();
  dlg.FlagsDialog(kOpenFlags);
  dlg.InitDir(GetSettingString(kAppName, "Data", "LastDir", DocumentsFolder()));
  // The chooser empties a folder it cannot start in.
  if (dlg.InitDir().empty()) dlg.InitDir(DocumentsFolder());
  dlg.Filter("Zip Files|*.zip");
  dlg.DefaultExt("zip");
  dlg.DialogTitle("Sélectionnez un fichier Zip");
  if (!dlg.ShowOpen(hWnd(), 0, nullptr, "")) return {};
  return UpToFirstNul(dlg.FileName());
}

}  // namespace qv::unpack
