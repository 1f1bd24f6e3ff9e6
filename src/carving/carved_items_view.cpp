#include "carving/carved_items_view.h"

#include "app/message_dialog.h"
#include "app/ui/color_static.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/ui_palette.h"
#include "app/ui/xp_style_button.h"
#include "carving/thumbnail_layout.h"
#include "results/open_single_file_dialog.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

namespace torvane {

// ---- the model -----------------------------------------------------------------------

CarvedItemModel::CarvedItemModel(QObject* parent) : QAbstractListModel(parent) {}

int CarvedItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant CarvedItemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const CarvedItem& item = items_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return item.name;
    case Qt::DecorationRole:
        return item.icon;
    case Qt::ToolTipRole:
    case PathRole:
        return item.path;
    default:
        return {};
    }
}

void CarvedItemModel::Append(const CarvedItem& item)
{
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back(item);
    endInsertRows();
}

void CarvedItemModel::Clear()
{
    beginResetModel();
    items_.clear();
    items_.shrink_to_fit();
    endResetModel();
}

// ---- the list ------------------------------------------------------------------------------

CCarvedItemList::CCarvedItemList(QSize iconSize, int scrollEvery, QWidget* parent)
    : QListView(parent), m_nScrollEvery(std::max(1, scrollEvery))
{
    m_pModel = new CarvedItemModel(this);
    setModel(m_pModel);
    setViewMode(QListView::IconMode);
    setIconSize(iconSize);
    // One cell per item, wide enough for a name under the picture.
    setGridSize(QSize(std::max(iconSize.width() + 24, 96), iconSize.height() + 30));
    setUniformItemSizes(true);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    // Laid out in one pass, so the view can follow the newest item; with
    // items of one size and at most 2,000 of them that stays cheap.
    setLayoutMode(QListView::SinglePass);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        const QString path = index.data(CarvedItemModel::PathRole).toString();
        if (!path.isEmpty())
            emit itemOpened(path);
    });
}

int CCarvedItemList::AddItem(const CarvedItem& item)
{
    const int row = m_pModel->rowCount();
    m_pModel->Append(item);
    // Follow the newest item now and then, not on every one.
    if (m_nScrollCounter == 0)
        scrollTo(m_pModel->index(row, 0), QAbstractItemView::EnsureVisible);
    m_nScrollCounter = (m_nScrollCounter + 1) % m_nScrollEvery;
    return row;
}

void CCarvedItemList::ClearItems()
{
    m_pModel->Clear();
    m_nScrollCounter = 0;
}

// ---- the clearing popup ----------------------------------------------------------------------

CRawDlg::CRawDlg(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("CRawDlg"));
    setWindowIcon(ProgramIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, DialogBackgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    auto* title1 = new CColorStatic(title, this);
    title1->SetColors(QColor(20, 60, 120), DialogBackgroundColor(), CColorStatic::Transparent);
    title1->setFont(GetSharedFonts().ArialBold12Font);
    m_pTitle = title1;
    auto* text1 = new CColorStatic(text, this);
    text1->SetColors(QColor(40, 40, 40), DialogBackgroundColor(), CColorStatic::Transparent);
    text1->setWordWrap(true);
    m_pText = text1;
    layout->addWidget(m_pTitle);
    layout->addWidget(m_pText);
    setFixedWidth(440);
}

QString CRawDlg::Title() const
{
    return m_pTitle->text();
}

QString CRawDlg::Text() const
{
    return m_pText->text();
}

bool CRawDlg::event(QEvent* e)
{
    // The popup only informs: keys and clicks go nowhere.
    switch (e->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Close:
        e->ignore();
        return true;
    default:
        return QDialog::event(e);
    }
}

// ---- the feeder --------------------------------------------------------------------------------

CarvedViewFeeder::CarvedViewFeeder(CCarvedItemList* list, QWidget* dialog, QWidget* note, QString popupTitle,
                                   QString popupText, QObject* parent)
    : QObject(parent),
      m_list(list),
      m_dialog(dialog),
      m_note(note),
      m_title(std::move(popupTitle)),
      m_text(std::move(popupText)),
      m_nClearingMs(kClearingPopupMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CarvedViewFeeder::EndClearing);
}

CarvedViewFeeder::~CarvedViewFeeder()
{
    m_timer.stop();
    if (m_pPopup)
        delete m_pPopup.data();
}

void CarvedViewFeeder::Add(CarvedItem item)
{
    if (m_bClearing) {
        m_waiting.push_back(std::move(item));
        return;
    }
    Place(std::move(item));
}

void CarvedViewFeeder::Place(CarvedItem item)
{
    if (!m_list) {
        Done(item);
        return;
    }
    if (static_cast<std::size_t>(m_list->Count()) >= kCarvedViewCap) {
        m_waiting.push_front(std::move(item));
        BeginClearing();
        return;
    }
    const int row = m_list->AddItem(item);
    Done(item);
    emit itemPlaced(row);
}

void CarvedViewFeeder::BeginClearing()
{
    m_bClearing = true;
    ++m_nClearings;
    if (m_note)
        m_note->show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!m_pPopup)
        m_pPopup = new CRawDlg(m_title, m_text, m_dialog);
    if (m_dialog) {
        m_pPopup->adjustSize();
        const QRect frame = m_dialog->frameGeometry();
        m_pPopup->move(frame.center() - QPoint(m_pPopup->width() / 2, m_pPopup->height() / 2));
        m_dialog->setEnabled(false);
    }
    m_pPopup->show();
    m_pPopup->raise();
    emit clearingStarted();
    m_timer.start(m_nClearingMs);
}

void CarvedViewFeeder::EndClearing()
{
    if (!m_bClearing)
        return;
    m_bClearing = false;
    if (m_list)
        m_list->ClearItems();
    QApplication::restoreOverrideCursor();
    if (m_pPopup) {
        m_pPopup->hide();
        m_pPopup->deleteLater();
        m_pPopup = nullptr;
    }
    if (m_dialog) {
        m_dialog->setEnabled(true);
        m_dialog->raise();
        m_dialog->activateWindow();
    }
    emit clearingEnded();
    // What waited goes in now, in order (a further clearing may start).
    while (!m_waiting.empty() && !m_bClearing) {
        CarvedItem next = std::move(m_waiting.front());
        m_waiting.pop_front();
        Place(std::move(next));
    }
}

void CarvedViewFeeder::Reset()
{
    if (m_bClearing) {
        m_timer.stop();
        m_bClearing = false;
        QApplication::restoreOverrideCursor();
        if (m_pPopup) {
            m_pPopup->hide();
            m_pPopup->deleteLater();
            m_pPopup = nullptr;
        }
        if (m_dialog)
            m_dialog->setEnabled(true);
    }
    std::deque<CarvedItem> dropped;
    dropped.swap(m_waiting);
    for (const CarvedItem& item : dropped)
        Done(item);
    m_nClearings = 0;
}

void CarvedViewFeeder::Done(const CarvedItem& item)
{
    if (m_done)
        m_done(item);
}

void OpenCarvedFile(QWidget* owner, const QString& path)
{
    if (!QFileInfo::exists(path)) {
        ShowMessage(owner, QString::fromLatin1(kOpenFileMissingText));
        return;
    }
    ShellOpenFile(path);
}

}  // namespace torvane
