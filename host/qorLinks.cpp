#include "host/qorLinks.h"

#include <QDesktopServices>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/TCppWebBrowser.h"

namespace {

bool Refuse(const QString& link, const char* why) {
  std::fprintf(stderr, "velarno: link refused (%s): %s\n", why, link.toLocal8Bit().constData());
  return false;
}

// The path with its links and "." / ".." resolved as far as it exists.
std::string Resolved(const std::string& path) {
  std::error_code error;
  auto resolved = std::filesystem::weakly_canonical(path, error);
  return error ? std::filesystem::path(path).lexically_normal().string() : resolved.string();
}

bool InsideFolder(const std::string& path, const std::string& folder) {
  std::string root = Resolved(folder);
  if (root.empty() || root.back() != '/') root += '/';
  const std::string resolved = Resolved(path);
  return resolved.size() > root.size() && resolved.compare(0, root.size(), root) == 0;
}

}  // namespace

bool OpenWithDesktop(const QUrl& url) {
  return QDesktopServices::openUrl(url);
}

bool OpenLink(const QString& link, const QUrl& base, TCppWebBrowser* view,
              const std::string& program_folder, const ExternalOpener& opener) {
  const QString trimmed = link.trimmed();
  if (trimmed.isEmpty()) return Refuse(link, "empty");
  QUrl url(trimmed, QUrl::TolerantMode);
  if (!url.isValid()) return Refuse(link, "not a valid address");
  const QString scheme = url.scheme().toLower();
  if (scheme == "http" || scheme == "https" || scheme == "mailto") {
    if (!opener) return Refuse(link, "no program to open it");
    return opener(url) ? true : Refuse(link, "the desktop did not open it");
  }
  if (url.isRelative()) {
    if (!base.isValid() || base.isEmpty()) return Refuse(link, "relative link with no page");
    url = base.resolved(url);
  } else if (scheme != "file") {
    return Refuse(link, "scheme not allowed");
  }
  if (!url.isLocalFile()) return Refuse(link, "not a local file");
  const std::string path = url.toLocalFile().toStdString();
  if (!InsideFolder(path, program_folder)) return Refuse(link, "outside the program folder");
  if (view == nullptr) return Refuse(link, "no view to show it in");
  QUrl shown = view->PageUrl();
  shown.setFragment(QString());
  QUrl target = url;
  target.setFragment(QString());
  if (shown == target && url.hasFragment()) {
    view->scrollToAnchor(url.fragment());
    return true;
  }
  view->Navigate(url.toString());
  return true;
}
