#include "app/ui/pictures.h"

#include <QPainter>
#include <QPixmap>

namespace vuv::app {
namespace {

QIcon ours(const char* name) { return QIcon(QStringLiteral(":/pictures/%1.svg").arg(name)); }

// A theme icon only where its meaning is the same; ours otherwise, so the window looks whole
// on a desktop without an icon theme.
QIcon themed(const char* themeName, const char* ourName) {
  return QIcon::fromTheme(QString::fromLatin1(themeName), ours(ourName));
}

}  // namespace

QIcon picture(Picture which) {
  switch (which) {
    case Picture::OpenTree: return themed("document-open", "open-tree");
    case Picture::SaveTree: return themed("document-save", "save-tree");
    case Picture::Discover: return ours("discover");
    case Picture::AddDomain: return ours("add-domain");
    case Picture::OpenFolder: return ours("open-folder");
    case Picture::CopyFile: return ours("copy-file");
    case Picture::About: return themed("help-about", "about");
    case Picture::OpenFile: return ours("open-tree");
    case Picture::AppIcon: return ours("vuvuveva");
    case Picture::None: return {};
  }
  return {};
}

QIcon nodeIcon(NodeKind kind, bool needsLogon) {
  if (needsLogon) {
    // Drawn at the sizes views ask for, so the padlock stays sharp over a themed picture.
    const QIcon base = nodeIcon(kind);
    const QIcon lock = ours("needs-logon");
    QIcon marked;
    for (const int side : {16, 22, 24, 32, 48}) {
      QPixmap pixmap = base.pixmap(side, side);
      QPainter painter(&pixmap);
      painter.drawPixmap(QRect(0, 0, side, side), lock.pixmap(side, side));
      painter.end();
      marked.addPixmap(pixmap);
    }
    return marked;
  }
  switch (kind) {
    case NodeKind::Domain: return themed("network-workgroup", "node-domain");
    case NodeKind::Server: return themed("network-server", "node-server");
    case NodeKind::Share: return themed("folder-remote", "node-share");
    case NodeKind::Root: return themed("network-wired", "node-root");
  }
  return {};
}

QIcon resultIcon(ResultIcon icon) {
  switch (icon) {
    case ResultIcon::Media: return themed("audio-x-generic", "result-media");
    case ResultIcon::Archive: return themed("package-x-generic", "result-archive");
    case ResultIcon::Text: return themed("text-x-generic", "result-text");
    case ResultIcon::Program: return themed("application-x-executable", "result-program");
    case ResultIcon::Other: return ours("result-other");
    case ResultIcon::Folder: return themed("folder", "result-folder");
    case ResultIcon::WebPage: return themed("text-html", "result-webpage");
    case ResultIcon::Picture: return themed("image-x-generic", "result-picture");
  }
  return {};
}

}  // namespace vuv::app
