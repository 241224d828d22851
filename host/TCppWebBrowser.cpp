#include "host/TCppWebBrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTextDocument>

#include <cstdio>

#include "host/qorAnsi.h"
#include "host/qorUtils.h"

namespace {

const char kEmptyPage[] = "<html><body></body></html>";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The charset named in the first part of the page, lower case; empty when none.
std::string NamedCharset(const std::string& bytes) {
  const std::string head = Lower(bytes.substr(0, 4096));
  const size_t at = head.find("charset");
  if (at == std::string::npos) return "";
  size_t i = at + 7;
  while (i < head.size() && (head[i] == ' ' || head[i] == '=' || head[i] == '"' || head[i] == '\''))
    ++i;
  std::string name;
  while (i < head.size() && (std::isalnum(static_cast<unsigned char>(head[i])) || head[i] == '-' ||
                             head[i] == '_' || head[i] == ':' || head[i] == '.'))
    name += head[i++];
  return name;
}

bool ReadPage(const QString& path, std::string& bytes, QString& reason) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
    return false;
  }
  if (file.size() > TCppWebBrowser::kMaxPageBytes) {
    reason = QStringLiteral("larger than %1 bytes").arg(TCppWebBrowser::kMaxPageBytes);
    return false;
  }
  const QByteArray data = file.read(TCppWebBrowser::kMaxPageBytes + 1);
  if (data.size() > TCppWebBrowser::kMaxPageBytes) {
    reason = QStringLiteral("larger than %1 bytes").arg(TCppWebBrowser::kMaxPageBytes);
    return false;
  }
  bytes.assign(data.constData(), static_cast<size_t>(data.size()));
  return true;
}

}  // namespace

QString DecodePageBytes(const std::string& bytes) {
  const std::string charset = NamedCharset(bytes);
  if (charset == "utf-8" || charset == "utf8") return QString::fromUtf8(bytes.data(), bytes.size());
  if (charset == "iso-8859-1" || charset == "latin1" || charset == "latin-1")
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (!charset.empty() && charset != "windows-1252" && charset != "cp1252") {
    QStringDecoder decoder(charset.c_str());
    if (decoder.isValid()) return decoder(QByteArrayView(bytes.data(), bytes.size()));
  }
  return FromAnsi(bytes);
}

TCppWebBrowser::TCppWebBrowser(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  connect(this, &QTextBrowser::anchorClicked, this, &TCppWebBrowser::LinkClicked);
}

void TCppWebBrowser::Navigate(const QString& url) {
  QUrl target = url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)
                    ? QUrl(url, QUrl::TolerantMode)
                    : QUrl::fromLocalFile(url);
  const QString fragment = target.fragment();
  const QString path = target.toLocalFile();
  std::string bytes;
  QString reason;
  QString html;
  if (path.isEmpty()) {
    reason = QStringLiteral("not a local page");
  } else if (ReadPage(path, bytes, reason)) {
    html = DecodePageBytes(bytes);
  }
  if (html.isNull()) {
    std::fprintf(stderr, "velarno: cannot show %s: %s\n", url.toLocal8Bit().constData(),
                 reason.toLocal8Bit().constData());
    html = QString::fromLatin1(kEmptyPage);
  }
  page_url_ = QUrl::fromLocalFile(path);
  if (!fragment.isEmpty()) page_url_.setFragment(fragment);
  page_html_ = html;
  loaded_ = true;
  const QString folder = QFileInfo(path).absolutePath();
  document()->setBaseUrl(QUrl::fromLocalFile(folder.endsWith('/') ? folder : folder + '/'));
  setHtml(html);
  if (!fragment.isEmpty()) scrollToAnchor(fragment);
  emit DownloadComplete();
}

void TCppWebBrowser::ShowHtml(const QString& html) {
  const QUrl base = document()->baseUrl();
  setHtml(html);
  document()->setBaseUrl(base);
}

bool SetDocumentBodyHtml(TCppWebBrowser* browser, const std::string& html) {
  if (browser == nullptr || !browser->HasDocument()) return false;
  std::u16string wide;
  AnsiToWide(html, wide, kCodePageAnsi);
  const QString body = QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
  const std::string page = browser->PageHtml().toStdString();
  const std::string replaced = ReplaceHtmlBody(page, body.toStdString());
  if (replaced != page) browser->ShowHtml(QString::fromStdString(replaced));
  return true;
}
