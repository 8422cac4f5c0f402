#include <string>

#include "compressor/frmMain.h"
#include "support/modMain.h"
#include "support/process.h"
#include "taskdialog/install.h"

int main(int argc, char** argv) {
  const std::string commandLine = qv::CommandLineText(argc, argv);
  qv::InstallDialogLayer();
  return qv::Main([&commandLine] {
    // The form goes with the process: its load handler ends it.
    auto* form = new qv::frmMain();
    form->Form_Load(commandLine);
  });
}
