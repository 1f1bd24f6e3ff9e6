// The result views of the carving searches: an icon list of carved files
// (the Photo Search shows thumbnails in it, the signature search the file
// type's icon), the rule that empties it every 2,000 items, and the small
// popup that says so.
//
// CarvedViewFeeder places items into a list in the order they are given. The
// item that would be the 2,001st first empties the list: the note under the
// list shows, the popup CRawDlg stands over the dialog for a second while
// the dialog is disabled (a GUI timer, nothing sleeps), then the list is
// emptied and the waiting items go in, the first as item 0. Items that arrive
// during that second wait for it.
#pragma once

#include <QAbstractListModel>
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QListView>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class QLabel;

namespace torvane {

// One carved file as a result view shows it.
struct CarvedItem {
    QString name;      // the carved file's name
    QString path;      // its full path
    QIcon icon;        // what the view shows for it (a thumbnail, a type icon)
    std::uint64_t tag = 0;  // the owner's own mark (the thumbnail decoder's generation)
};

class CarvedItemModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CarvedItemModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    static constexpr int PathRole = Qt::UserRole + 1;

    void Append(const CarvedItem& item);
    void Clear();
    const CarvedItem& At(int row) const { return items_[static_cast<std::size_t>(row)]; }

private:
    std::vector<CarvedItem> items_;
};

// The icon list. A double-click opens the carved file with the desktop.
class CCarvedItemList : public QListView {
    Q_OBJECT
public:
    // `iconSize`: the picture of an item; `scrollEvery`: the list follows
    // every n-th new item.
    CCarvedItemList(QSize iconSize, int scrollEvery, QWidget* parent = nullptr);

    CarvedItemModel* Items() const { return m_pModel; }
    int Count() const { return m_pModel->rowCount(); }
    // Appends an item; returns its row.
    int AddItem(const CarvedItem& item);
    void ClearItems();

signals:
    // A carved file was double-clicked (its full path).
    void itemOpened(const QString& path);

private:
    CarvedItemModel* m_pModel = nullptr;
    int m_nScrollEvery = 1;
    int m_nScrollCounter = 0;  // ThumbnailScrollCounter
};

// The popup that tells the user a result list is being emptied. It has no
// caption and no buttons, and takes no input.
class CRawDlg : public QDialog {
    Q_OBJECT
public:
    CRawDlg(const QString& title, const QString& text, QWidget* parent = nullptr);
    QString Title() const;
    QString Text() const;

protected:
    bool event(QEvent* event) override;
    void reject() override {}

private:
    QLabel* m_pTitle = nullptr;  // 1027
    QLabel* m_pText = nullptr;   // 1028
};

class CarvedViewFeeder : public QObject {
    Q_OBJECT
public:
    // `dialog` is disabled while the popup shows; `note` is the static that
    // explains the clearing (shown from the first clearing on).
    CarvedViewFeeder(CCarvedItemList* list, QWidget* dialog, QWidget* note, QString popupTitle, QString popupText,
                     QObject* parent = nullptr);
    ~CarvedViewFeeder() override;

    // Places `item` (now, or after a clearing that runs).
    void Add(CarvedItem item);
    // Ends a clearing at once and drops the items waiting for it.
    void Reset();

    bool Clearing() const { return m_bClearing; }
    CRawDlg* Popup() const { return m_pPopup.data(); }
    int Waiting() const { return static_cast<int>(m_waiting.size()); }
    // Clearings since the last Reset().
    int Clearings() const { return m_nClearings; }
    // Called once per item placed or dropped (a producer that waits for room).
    void SetDoneHook(std::function<void(const CarvedItem&)> hook) { m_done = std::move(hook); }
    // How long the popup stays (tests shorten it).
    void SetClearingMs(int ms) { m_nClearingMs = ms; }

signals:
    void clearingStarted();
    void clearingEnded();
    void itemPlaced(int row);

private:
    void Place(CarvedItem item);
    void BeginClearing();
    void EndClearing();
    void Done(const CarvedItem& item);

    QPointer<CCarvedItemList> m_list;
    QPointer<QWidget> m_dialog;
    QPointer<QWidget> m_note;
    QString m_title, m_text;
    QPointer<CRawDlg> m_pPopup;
    QTimer m_timer;
    std::deque<CarvedItem> m_waiting;
    std::function<void(const CarvedItem&)> m_done;
    bool m_bClearing = false;
    int m_nClearings = 0;
    int m_nClearingMs;
};

// Opens a carved file with the desktop ("Does not exist." when it is gone).
void OpenCarvedFile(QWidget* owner, const QString& path);

}  // namespace torvane
