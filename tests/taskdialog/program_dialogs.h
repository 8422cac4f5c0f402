// The settings of the programs' password and choice dialogs, as the
// workflows make them, for the tests of the dialog component and of its
// terminal frames.
#pragma once
#include <string>

#include "taskdialog/cTaskDialog.h"

namespace qv::testing_dialogs {

inline void SetUpPassword(cTaskDialog& td, bool masked) {
  td.MainInstruction("Autorisation requise");
  td.Content("Ce fichier est protégé par mot de passe");
  td.Flags(0x4000000);
  td.InputIsPassword(masked);
  td.InputAlign(1);
  td.CommonButtons(9);
  td.SetButtonElevated(1, 1);
  td.SetButtonHold(1);
  td.Footer("Entrer le mot de passe puis OK pour continuer.");
  td.IconFooter(-3);
  td.IconMain(-7);
  td.Title("Quorvelunpack : Décompresser un fichier Zip");
  td.ParentHwnd(0x777);
}

// The progress dialog's frame: its "Annuler" held, no common button.
inline void SetUpProgress(cTaskDialog& td, const std::string& instruction) {
  td.IconMain(-8);
  td.MainInstruction(instruction);
  td.Flags(0xA10);
  td.AddCustomButton(101, "Annuler", 0);
  td.SetButtonHold(101);
  td.Title("Quorvelunpack : Décompresser un fichier Zip");
}

inline void SetUpChoice(cTaskDialog& td, bool extractor) {
  td.MainInstruction(extractor ? "Le dossier de décompression existe déjà !."
                               : "Le fichier Zip existe déjà !.");
  td.Content("Vous pouvez choisir de :");
  td.Flags(16);
  if (extractor) {
    td.AddCustomButton(300, "Mettre à jour le dossier\net ne décompresser que les fichiers "
                            "absents ou plus récents", 0);
    td.AddCustomButton(200, "Décompresser la totalité du ficher\net écraser les fichiers "
                            "déjà présents", 0);
    td.AddCustomButton(400, "Abandonner\net renoncer à décompresser le fichier Zip", 0);
  } else {
    td.AddCustomButton(200, "Compresser le répertoire\net écraser le fichier déjà présent", 0);
    td.AddCustomButton(400, "Abandonner\net renoncer à compresser le dossier", 0);
  }
  td.Footer("Choisissez une des options ci-dessus");
  td.IconFooter(-3);
  td.IconMain(-6);
  td.ParentHwnd(0x777);
  td.Title("Quorvelpack : Compresser un dossier");
}

}  // namespace qv::testing_dialogs
