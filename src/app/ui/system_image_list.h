// CSystemImageList: icons for file types, looked up once per extension from
// the desktop's icon theme and handed out as small, stable indices (the lists
// keep an icon index per row, and the photo and signature dialogs even store
// it as text in a hidden column, so an index never changes meaning).
//
// Index 0 is the generic file icon (a name without extension), index 1 the
// folder icon. GUI thread only.
#pragma once

#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>

namespace torvane {

class CSystemImageList {
public:
    CSystemImageList();

    // The one list the program's windows share.
    static CSystemImageList& Shared();

    // The icon index for a file name or path: its extension (from the last dot
    // of the last path component, dot included) trimmed and lower-cased is the
    // key; no extension gives 0.
    int GetIconIndex(const QString& path);
    // The extension key GetIconIndex uses ("" when there is none).
    static QString ExtensionKey(const QString& path);

    int FolderIconIndex() const { return 1; }
    QIcon Icon(int index) const;
    const QList<QIcon>& Icons() const { return icons_; }
    // How many extensions were resolved through the icon theme (for tests).
    int ResolveCount() const { return resolves_; }

private:
    QIcon Resolve(const QString& ext);

    QList<QIcon> icons_;
    QHash<QString, int> cache_;  // extension -> index
    QString lastExt_;
    int lastIndex_ = 0;
    int resolves_ = 0;
};

}  // namespace torvane
