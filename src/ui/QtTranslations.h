#pragma once

// Qt's own texts (message-box buttons, file dialogs) in the language of the
// language file in use; English, or a language Qt does not know, leaves them
// as they are. Call again after the language changed.
void UseQtTranslations();
