// Where a link may go. A relative or file: link to a file inside the program
// folder is shown in the view it was clicked in; an http, https or mailto
// link goes to the desktop's own programs; any other link is refused.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <string>

class TCppWebBrowser;

// Hands a link to the desktop (a browser, a mail program); true when it took it.
using ExternalOpener = std::function<bool(const QUrl&)>;

// QDesktopServices::openUrl.
bool OpenWithDesktop(const QUrl& url);

// Opens the link; relative links resolve against base. Without a view, only
// links that leave for the desktop are opened. False (the reason on stderr)
// when the link is refused.
bool OpenLink(const QString& link, const QUrl& base, TCppWebBrowser* view,
              const std::string& program_folder, const ExternalOpener& opener);
