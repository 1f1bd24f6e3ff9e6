#include "app/ui/system_image_list.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QMimeDatabase>
#include <QMimeType>

#include <algorithm>

namespace torvane {

namespace {

// Outside a desktop session (a bare X server, a window manager without a
// theme) Qt knows no icon theme and every file would get the same blank
// icon: take the first full theme installed.
void ChooseIconTheme() {
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
    const QStringList paths = QIcon::themeSearchPaths();
    for (const char* name : {"Adwaita", "breeze", "oxygen", "gnome", "Tango", "elementary"}) {
        for (const QString& dir : paths) {
            if (QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral("/index.theme"))) {
                QIcon::setThemeName(QLatin1String(name));
                return;
            }
        }
    }
}

}  // namespace

CSystemImageList::CSystemImageList() {
    ChooseIconTheme();
    QFileIconProvider provider;
    icons_.append(provider.icon(QFileIconProvider::File));    // 0: no extension
    icons_.append(provider.icon(QFileIconProvider::Folder));  // 1: folders
}

CSystemImageList& CSystemImageList::Shared() {
    static CSystemImageList list;
    return list;
}

QString CSystemImageList::ExtensionKey(const QString& path) {
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash) return {};
    return path.mid(dot).trimmed().toLower();
}

QIcon CSystemImageList::Resolve(const QString& ext) {
    ++resolves_;
    static const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForFile(QStringLiteral("x") + ext, QMimeDatabase::MatchExtension);
    QIcon icon;
    if (mime.isValid() && !mime.isDefault())
        icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    if (icon.isNull()) icon = icons_.at(0);
    return icon;
}

int CSystemImageList::GetIconIndex(const QString& path) {
    const QString ext = ExtensionKey(path);
    if (ext.isEmpty() || ext == QLatin1String(".")) return 0;
    if (const auto it = cache_.constFind(ext); it != cache_.constEnd()) return it.value();
    if (ext == lastExt_) return lastIndex_;
    icons_.append(Resolve(ext));
    const int index = int(icons_.size() - 1);
    cache_.insert(ext, index);
    lastExt_ = ext;
    lastIndex_ = index;
    return index;
}

QIcon CSystemImageList::Icon(int index) const {
    if (index < 0 || index >= icons_.size()) return icons_.at(0);
    return icons_.at(index);
}

}  // namespace torvane
