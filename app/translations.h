#pragma once
// Qt's own texts (file dialogs, standard buttons, the edit boxes' context menu) in
// Brazilian Portuguese, as the rest of the window.
class QCoreApplication;

// Loads qtbase_pt_BR from Qt's translations folder and installs it; returns whether it
// was found (without it Qt's texts stay in English and nothing else changes).
bool installQtTranslations(QCoreApplication &app);
