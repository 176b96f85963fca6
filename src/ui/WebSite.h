#pragma once
#include <QUrl>

// The maker's web site, opened by the about window, the tray menu and the
// editor. A relative entry names a page of the program folder: until the
// project has a web site, its users' manual stands in.
inline constexpr const char* kMakerWebSite = "help/index.html";

QUrl MakerWebSiteUrl();
// Opens it in the desktop's browser; false when the desktop refused.
bool OpenMakerWebSite();

// The program's version, "major.minor.revision", and the revision alone.
QString ProgramVersion();
QString ProgramRevision();
