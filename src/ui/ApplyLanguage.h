#pragma once

class QWidget;

// Gives a window and its controls the texts of the language file in use: the
// section is the window's objectName, "Caption" its title, a control's
// objectName (or "name|index" for a member of a control array, whose index is
// the dynamic property "index") the control's text. A missing file, key or an
// empty value keeps the text the window has, so the English of the .ui stays.
// A control's tip comes from its key followed by ".ToolTipText".
void ApplyLanguage(QWidget* form);

// Where the desktop keeps a control array member's index.
inline constexpr const char* kControlIndexProperty = "index";
