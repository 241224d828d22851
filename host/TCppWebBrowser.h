// The window's page view: shows the program's own local pages. A page is the
// file's bytes (Windows-1252 unless the page names its charset), shown with
// its folder as the base of its relative links and pictures. Each load ends
// with DownloadComplete. Links are not followed here: LinkClicked says which
// one was clicked.
#pragma once

#include <QString>
#include <QTextBrowser>
#include <QUrl>

#include <string>

class TCppWebBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  // Pages larger than this are not shown.
  static constexpr qint64 kMaxPageBytes = 16 << 20;

  explicit TCppWebBrowser(QWidget* parent = nullptr);

  // Shows the page at a file URL ("file:///...") or a local path; a page that
  // cannot be read shows as an empty page (the reason on stderr).
  void Navigate(const QString& url);
  // The URL of the page shown (with its fragment, if any).
  QUrl PageUrl() const { return page_url_; }
  // The text of the page shown, as loaded; empty before the first load.
  const QString& PageHtml() const { return page_html_; }
  bool HasDocument() const { return loaded_; }
  // Replaces what is shown, keeping the page's URL and base.
  void ShowHtml(const QString& html);

 signals:
  void DownloadComplete();
  void LinkClicked(const QUrl& link);

 private:
  QUrl page_url_;
  QString page_html_;
  bool loaded_ = false;
};

// The page's text from its bytes: the charset its head names (a meta
// charset or content type), else Windows-1252.
QString DecodePageBytes(const std::string& bytes);

// Writes the HTML (8-bit ANSI text) as the body of the page shown (every BODY
// element of it); a page without one is left as it is. False when no page
// has been loaded.
bool SetDocumentBodyHtml(TCppWebBrowser* browser, const std::string& html);
