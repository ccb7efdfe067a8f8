#pragma once
// Qt's own texts (file dialogs, standard buttons, the edit boxes' context menu) in
// Brazilian Portuguese, as the rest of the window.
class QCoreApplication;

// Before the application object: the application's locale is Brazilian Portuguese
// (dates, the file dialogs' dates among them), whatever the machine's.
void usePortugueseLocale();
// Loads qtbase_pt_BR from Qt's translations folder and installs it, with the few texts
// it lacks, and makes Brazilian Portuguese the default locale; returns whether the
// translation was found (without it Qt's texts stay in English and nothing else changes).
bool installQtTranslations(QCoreApplication &app);
